#!/usr/bin/env bash
# Takes the test pictures out of Debian packages (downloaded, not installed) into
# tests/data/external/. Idempotent; nothing here is committed.
#   astronaut.png  NASA astronaut portrait, public domain (python3-skimage)
#   coffee.png     a picture without faces (python3-skimage)
#   grace_hopper.jpg  larger frontal face (python-matplotlib-data); tests only, not for docs
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dest="$root/tests/data/external"
mkdir -p "$dest"
[ -f "$dest/astronaut.png" ] && [ -f "$dest/coffee.png" ] && [ -f "$dest/grace_hopper.jpg" ] && exit 0

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
# apt's sandbox user cannot write into a root-owned temporary folder.
chmod 777 "$work"
apt-get download python3-skimage python-matplotlib-data >/dev/null 2>&1 || {
    apt-get update -q >/dev/null && apt-get download python3-skimage python-matplotlib-data >/dev/null
}
for deb in *.deb; do dpkg-deb -x "$deb" extracted; done
skdata=extracted/usr/lib/python3/dist-packages/skimage/data
cp "$skdata/astronaut.png" "$skdata/coffee.png" "$dest/"
cp extracted/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg "$dest/"
echo "test pictures in $dest"
