#!/usr/bin/env bash
# facelume in one command: installs what is missing (Debian 12), builds into build/, then runs the
# sample portrait (NASA astronaut portrait, public domain, from Debian's python3-skimage) and a
# short video made from it through the service with a visible set of effects. The results are
# written beside the samples in build/demo/, and their paths are printed at the end.
#   JOBS=N scripts/demo.sh    builds with N parallel jobs (default: the number of processors)
#   BUILD_DIR=DIR             builds in DIR instead of build/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
demo="$build/demo"
jobs="${JOBS:-$(nproc)}"

step() { printf '\n== %s\n' "$1"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        echo "demo: $1 needs root and sudo is missing; run it as root first" >&2
        exit 1
    fi
}

step "packages"
as_root "$root/scripts/install-deps.sh"
"$root/scripts/fetch-test-images.sh"

step "build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"

step "samples"
mkdir -p "$demo"
cp "$root/tests/data/external/astronaut.png" "$demo/astronaut.png"
"$build/bin/make_sample_video" "$demo/astronaut.png" "$demo/astronaut.mp4" 48 24 2>/dev/null

effects=(--smooth 70 --white 40 --eyes 25 --thin 30 --filter warm:80 --sticker glasses
    --lipstick '#c2185b:60' --cheeks '#f48fb1:50')
cli="$build/bin/facelume-cli"

step "the portrait through facelume"
"$cli" "$demo/astronaut.png" "$demo/astronaut_facelume.png" "${effects[@]}" --stats
"$cli" "$demo/astronaut.png" "$demo/astronaut_before_after.png" "${effects[@]}" --side-by-side

step "the video through facelume"
"$cli" "$demo/astronaut.mp4" "$demo/astronaut_before_after.mp4" "${effects[@]}" \
    --side-by-side --stats

step "results"
cat <<EOT
  samples:        $demo/astronaut.png
                  $demo/astronaut.mp4
  after:          $demo/astronaut_facelume.png
  before | after: $demo/astronaut_before_after.png
                  $demo/astronaut_before_after.mp4
  effects:        ${effects[*]}
Next: the tests with  ctest --test-dir $build -j2 --output-on-failure
EOT
