#!/usr/bin/env bash
# Renders docs/gallery/: the astronaut portrait (public domain) before and after each control of
# the open engine, and with all of them; and the pictures of docs/gallery/real-faces.md (several
# people, a grey photograph, a cut). Builds what it needs in build-gallery/ unless a build
# folder is given.  Usage: scripts/render-gallery.sh [BUILD_FOLDER]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-gallery}"
"$root/scripts/fetch-test-images.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFACELUME_BUILD_TESTS=OFF
fi
cmake --build "$build" --target engine_gallery real_faces_gallery facelume_resources facelume_looks_resources -j2
mkdir -p "$root/docs/gallery"
"$build/bin/engine_gallery" "$root/tests/data/external/astronaut.png" "$build/bin/beauty_res" \
    "$root/docs/gallery"
"$build/bin/real_faces_gallery" "$root/tests/data/external" "$build/bin/beauty_res" \
    "$root/docs/gallery"
