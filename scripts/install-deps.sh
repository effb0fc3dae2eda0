#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Idempotent.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config git
    qtbase5-dev
    libopencv-dev libdlib-dev libdlib-data libblas-dev liblapack-dev libpng-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    python3 python3-numpy
    g++-mingw-w64-x86-64 wine wine64
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
