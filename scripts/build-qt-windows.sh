#!/usr/bin/env bash
# Builds a static Qt 5 qtbase (Core and Network only) for Windows x86-64 with Debian's MinGW-w64
# posix-thread compilers, from Debian's own qtbase source package, once. The build lands in a
# cache folder outside the clone, keyed by this script's hash and the compiler's version; a
# finished build (marker file written last) is reused at once. Prints the Qt prefix as its last
# line of output.
#
#   FACELUME_QT_CACHE   parent folder of the cached builds (default /var/cache/facelume)
#   FACELUME_QT_JOBS    parallel make jobs (default 2)
#
# The installed qmake and mkspecs hold absolute paths: a cached build must be restored at the
# same path. Runs at the lowest CPU priority, so other builds on the machine keep their share.
set -euo pipefail

script="$(readlink -f "$0")"
cache_root="${FACELUME_QT_CACHE:-/var/cache/facelume}"
jobs="${FACELUME_QT_JOBS:-2}"
cross=x86_64-w64-mingw32

log() { printf -- '-- %s\n' "$*" >&2; }

install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}" >&2
}

install_packages g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix dpkg-dev make perl python3

key="$(sha256sum "$script" | cut -c1-12)-$("$cross-g++-posix" -dumpfullversion)"
prefix="$cache_root/qt5-mingw-$key"
marker="$prefix/.facelume-qt-complete"
if [ -f "$marker" ]; then
    log "reusing Qt for Windows in $prefix"
    echo "$prefix"
    exit 0
fi

# Sources from the same Debian archive the binary packages come from.
deb_src=/etc/apt/sources.list.d/facelume-deb-src.sources
if [ ! -f "$deb_src" ]; then
    log "adding deb-src entries for the configured Debian archive"
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$deb_src.tmp"
    mv "$deb_src.tmp" "$deb_src"
fi
if ! apt-cache showsrc qtbase-opensource-src 2>/dev/null | grep -q '^Package:'; then
    apt-get -o DPkg::Lock::Timeout=600 update -q >&2
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/facelume-qt-build.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
log "fetching qtbase-opensource-src"
apt-get source --download-only qtbase-opensource-src >&2
dpkg-source -x ./qtbase-opensource-src_*.dsc src >&2

# win32-g++ calls ${CROSS_COMPILE}g++; Debian's unsuffixed MinGW compilers use win32 threads,
# the project's code needs the posix thread model (std::thread, std::mutex).
mkdir bin
for tool in gcc g++; do ln -s "/usr/bin/$cross-$tool-posix" "bin/$cross-$tool"; done
for tool in ar ranlib strip windres objcopy nm ld; do ln -s "/usr/bin/$cross-$tool" "bin/$cross-$tool"; done
export PATH="$work/bin:$PATH"

rm -rf "$prefix"
mkdir -p build
cd build
start=$SECONDS
log "configuring Qt for Windows into $prefix"
nice -n 19 ../src/configure -prefix "$prefix" \
    -xplatform win32-g++ -device-option CROSS_COMPILE="$cross-" -platform linux-g++ \
    -release -static -static-runtime -opensource -confirm-license \
    -nomake examples -nomake tests -no-gui -no-widgets -no-opengl -no-dbus -no-icu -no-openssl \
    -qt-pcre -qt-zlib -no-feature-sql -no-feature-xml -no-feature-testlib \
    -no-feature-concurrent -no-feature-bearermanagement >configure.log 2>&1 ||
    { tail -n 40 configure.log >&2; exit 1; }
log "building Qt for Windows with $jobs jobs (takes a while)"
nice -n 19 make -j"$jobs" >make.log 2>&1 || { tail -n 40 make.log >&2; exit 1; }
nice -n 19 make install >install.log 2>&1 || { tail -n 40 install.log >&2; exit 1; }
strip "$prefix"/bin/* 2>/dev/null || true
echo "$((SECONDS - start))" >"$prefix/.facelume-qt-build-seconds"
touch "$marker"
log "Qt for Windows built in $((SECONDS - start)) s"
echo "$prefix"
