#pragma once

// One tracked face as every effect sees it in a frame: the 68 landmarks in dlib's iBUG-300W
// order (0-16 jaw, 17-21 right brow, 22-26 left brow, 27-35 nose, 36-41 right eye,
// 42-47 left eye, 48-59 outer lips, 60-67 inner lips; "right" is the person's right, the
// left side of the picture), already stabilised over time, in pixel coordinates of the frame.

#include <array>
#include <cmath>

#include <opencv2/core.hpp>

namespace facelume {

struct Face {
    std::array<cv::Point2f, 68> landmarks;
    // 0..1: how strongly face-bound effects apply; ramps up over a few frames when a face
    // appears, so nothing snaps on. A lost face is gone at once: nothing stays painted where a
    // face was.
    float presence = 0.f;
    // In-plane rotation of the face in radians (the line between the eye centres).
    float roll = 0.f;
    // Distance between the eye centres in pixels; the face's natural scale unit.
    float eyeDistance = 0.f;
    // How far the head is turned aside, as the learned face detector saw it where the face was
    // largest in its input: the offset of the nose tip from between the eyes along the eye line,
    // in eye distances, positive when turned to the person's left (0 frontal, about 0.3
    // three-quarter, more in profile). NaN when unknown: dlib's detector cannot tell.
    float turn = NAN;
};

}  // namespace facelume
