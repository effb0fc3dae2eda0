#!/usr/bin/env bash
# Takes the test pictures out of Debian packages (downloaded, not installed) into
# tests/data/external/. Idempotent; nothing here is committed. Sources and licences:
#   python3-skimage (BSD-3-Clause package; its data README gives these as public domain or CC0)
#     astronaut.png  NASA astronaut portrait, one face and a shoulder badge, public domain
#     camera.png     grey photograph of a cameraman, CC0
#     coffee.png     a cup of coffee, no face, CC0
#     chelsea.png    a cat, no human face, CC0
#   python-matplotlib-data (matplotlib licence)
#     grace_hopper.jpg  frontal portrait, public domain (US Navy); tests only, not for docs
#   opencv-doc, samples/data (Apache-2.0 AND BSD-3-Clause per the package's copyright file)
#     messi5.jpg     footballer in a stadium, one face of about 40 pixels, a crowd behind
#     basketball1.png  grey photograph of two men passing a ball indoors: one face of about
#                    40 pixels turned a little aside, the other man turned away from the camera
#     baboon.jpg     a mandrill's face, no human face
#     Blender_Suzanne1.jpg  rendered monkey head, a face-like object that is not a face
#     Megamind.avi   animated film clip: a dimly lit woman's face and a man behind her
#     vtest.avi      street seen from above: crowds of small walking figures, no usable face
#   visp-images-data (GPL-2 per the package's copyright file; the photograph itself, by Benjamin
#   Couprie, 1927, is public domain)
#     1280px-Solvay_conference_1927.png  grey group photograph of the 1927 Solvay conference:
#                    29 people in three rows, faces of 40 to 55 pixels, several turned aside
#   texlive-publishers-doc, ftc-notebook's example (LPPL 1.3 per the package's Licenses file;
#   by FTC team 9773 Robocracy)
#     robocracy2018.jpg  colour photograph of a school robotics team of eleven on a climbing
#                    frame: light and brown skin, glasses, a cap, one head upside down, a dog
#   gimp-help-en (GFDL 1.2 or later, no invariant sections, per gimp-help-common's copyright file)
#     default-layer-mode-multiply.jpg  a duck's head seen through a colour mask of rings: a
#                    face-like pattern that is not a face
#     default-layer-mode-pin-light.jpg  the same in another layer mode, whose pattern tilts as
#                    the face the detector sees in it
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dest="$root/tests/data/external"
wanted=(astronaut.png camera.png coffee.png chelsea.png grace_hopper.jpg messi5.jpg baboon.jpg
    Blender_Suzanne1.jpg Megamind.avi vtest.avi basketball1.png 1280px-Solvay_conference_1927.png
    robocracy2018.jpg default-layer-mode-multiply.jpg default-layer-mode-pin-light.jpg)
missing=0
for f in "${wanted[@]}"; do [ -f "$dest/$f" ] || missing=1; done
[ "$missing" = 0 ] && exit 0
mkdir -p "$dest"

packages=(python3-skimage python-matplotlib-data opencv-doc visp-images-data texlive-publishers-doc
    gimp-help-en)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
# apt's sandbox user cannot write into a root-owned temporary folder.
chmod 777 "$work"
apt-get download "${packages[@]}" >/dev/null 2>&1 || {
    apt-get update -q >/dev/null && apt-get download "${packages[@]}" >/dev/null
}
# Of the three large packages only the one picture each is taken out.
solvay=usr/share/visp-images-data/ViSP-images/faces/1280px-Solvay_conference_1927.png
team=usr/share/doc/texlive-doc/latex/ftc-notebook/src/images/robocracy2018.jpg
duck=usr/share/gimp/2.0/help/en/images/using/default-layer-mode
ducks=("$duck-multiply.jpg" "$duck-pin-light.jpg")
mkdir extracted
for deb in *.deb; do
    case "$deb" in
    visp-images-data_*) dpkg-deb --fsys-tarfile "$deb" | tar -x -C extracted "./$solvay" ;;
    texlive-publishers-doc_*) dpkg-deb --fsys-tarfile "$deb" | tar -x -C extracted "./$team" ;;
    gimp-help-en_*) dpkg-deb --fsys-tarfile "$deb" | tar -x -C extracted "${ducks[@]/#/./}" ;;
    *) dpkg-deb -x "$deb" extracted ;;
    esac
done
skdata=extracted/usr/lib/python3/dist-packages/skimage/data
cvdata=extracted/usr/share/doc/opencv-doc/examples/data
cp "$skdata"/{astronaut.png,camera.png,coffee.png,chelsea.png} "$dest/"
cp extracted/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg "$dest/"
cp "$cvdata"/{messi5.jpg,baboon.jpg,Blender_Suzanne1.jpg,Megamind.avi,vtest.avi,basketball1.png} "$dest/"
cp "extracted/$solvay" "extracted/$team" "${ducks[@]/#/extracted/}" "$dest/"
echo "test pictures in $dest"
