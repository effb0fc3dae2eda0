#!/usr/bin/env bash
# Builds the .deb from a build folder, unpacks it into a scratch root and uses it there as a user
# would: a picture through the installed facelume-cli from another folder, a C program built
# against the installed headers with pkg-config and with find_package, the Python package
# installed with pip, and the GStreamer element. Also checks that the client library exports
# only its public API under a versioned SONAME. Usage: scripts/check-install.sh [BUILD_DIR]
set -euo pipefail
root_dir="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root_dir/build}" && pwd)"
picture="$root_dir/tests/data/external/astronaut.png"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
step() { printf -- '--- %s\n' "$1"; }

step "package"
(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
deb="$(ls "$scratch"/package/facelume_*.deb)"
dpkg-deb -f "$deb" Package Version Depends
for needed in libdlib-data libqt5core5a libopencv-core; do
    dpkg-deb -f "$deb" Depends | grep -q "$needed" || { echo "Depends lacks $needed"; exit 1; }
done
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
libdir="$(dirname "$(find "$root" -name 'libfacelume_client.so.*.*')")"

step "client library: SONAME and exported symbols"
library="$(find "$libdir" -name 'libfacelume_client.so.*.*')"
readelf -d "$library" | grep -q 'SONAME.*\[libfacelume_client.so.0\]'
foreign="$(nm -D --defined-only "$library" | awk '{print $3}' | c++filt |
    grep -Ev '^(facelume_|facelume::|typeinfo (name )?for facelume::|vtable for facelume::)' || true)"
if [ -n "$foreign" ]; then echo "exported beyond the public API:"; echo "$foreign"; exit 1; fi

step "face detection model installed beside the landmark model"
test -s "$root/usr/share/facelume/beauty_res/models/face_detection_front_128x128_barracuda.onnx"
test -s "$root/usr/share/facelume/beauty_res/models/face_detection_front_128x128_barracuda.LICENSE"

step "facelume-cli from another folder"
(cd "$scratch" && "$root/usr/bin/facelume-cli" "$picture" out.png --lipstick red:80 --smooth 50)
test -s "$scratch/out.png"
if "$root/usr/bin/facelume-cli" "$picture" "$scratch/bad.png" --filter nosuch 2>"$scratch/err"; then
    echo "an unknown filter was accepted"; exit 1
fi
grep -q "warm" "$scratch/err"

step "C program with pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -o "$scratch/with_pkg_config" "$root_dir/tests/install/use_installed.c" \
    $(pkg-config --cflags --libs facelume)
LD_LIBRARY_PATH="$libdir" "$scratch/with_pkg_config" "$root/usr/bin/facelume"

step "C program with find_package"
cmake -S "$root_dir/tests/install" -B "$scratch/consumer" -G Ninja \
    -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
LD_LIBRARY_PATH="$libdir" "$scratch/consumer/use_installed" "$root/usr/bin/facelume"

step "Python package with pip"
# Debian's own Python, whatever else is first on PATH.
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
# No index here: the build backend (setuptools, wheel) and numpy come from Debian.
"$scratch/venv/bin/pip" install -q --no-build-isolation --no-index "$root_dir/client/python"
(cd "$scratch" && LD_LIBRARY_PATH="$libdir" PATH="$root/usr/bin:$PATH" "$scratch/venv/bin/python" -c '
import numpy as np, facelume
frame = np.full((48, 64, 3), 128, np.uint8)
with facelume.Service() as fx:
    fx.process(frame)  # a control then waits for its re-send, so the next frame carries it
    fx.set_filter("warm", 1.0)
    assert (fx.process(frame) != frame).any(), "the warm look did not arrive"
    assert "warm" in fx.available("filter")
print("python: facelume", facelume.__version__, "from", facelume.__file__)
')

step "GStreamer element"
GST_PLUGIN_PATH="$libdir/gstreamer-1.0" gst-launch-1.0 -q videotestsrc num-buffers=10 \
    ! video/x-raw,width=320,height=240 ! videoconvert \
    ! facelume service="$root/usr/bin/facelume" smooth=50 filter=warm ! fakesink
echo "installed package works"
