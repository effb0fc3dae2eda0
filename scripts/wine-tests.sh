#!/usr/bin/env bash
# Builds the service (facelume.exe with the pass-through engine as mox_ai_effect.dll beside it),
# the client SDK and their tests for Windows with MinGW-w64 and runs the tests under Wine, in
# build-mingw/ (GoogleTest is built there from /usr/src/googletest with the same compiler). Qt is
# the static one of scripts/build-qt-windows.sh: FACELUME_QT_PREFIX names it, else that script
# is run (it builds Qt once and then reuses it). Safe to run again; ends the Wine prefix's
# wineserver when done.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
qt_prefix="${FACELUME_QT_PREFIX:-$("$root/scripts/build-qt-windows.sh" | tail -n 1)}"
build="$root/build-mingw"
toolchain="$root/cmake/toolchain-mingw-w64.cmake"
gtest_install="$build/googletest-install"

export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
mkdir -p "$build"

if [ ! -f "$gtest_install/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "-- building GoogleTest for Windows"
    cmake -S /usr/src/googletest -B "$build/googletest" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$gtest_install" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
        -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$build/googletest" -j2 >/dev/null
    cmake --install "$build/googletest" >/dev/null
fi

cmake -S "$root" -B "$build/facelume" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFACELUME_BUILD_SERVICE=ON -DFACELUME_BUILD_ENGINE=OFF \
    -DFACELUME_QT_PREFIX="$qt_prefix" -DFACELUME_BUILD_TESTS=ON \
    -DGTest_DIR="$gtest_install/lib/cmake/GTest" >/dev/null
cmake --build "$build/facelume" -j2

stop_wineserver() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wineserver EXIT

# Start the prefix's wineserver and Wine's background processes before CTest: started during a
# test, they would inherit CTest's output pipe and keep it waiting.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "-- creating the Wine prefix"
    wineboot --init </dev/null >/dev/null 2>&1
    wineserver -w
fi
# Exit status 2: a server for this prefix runs already, which is as good.
wineserver -p || [ $? -eq 2 ]
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

(cd "$build/facelume" && ctest --output-on-failure --timeout 120)
