#pragma once

// The contract of one effect of the open engine. The engine owns one object per effect and
// calls it from one thread only. apply() works in place on the frame and must not allocate
// once the frame size is stable: keep working images as members. Nothing may throw out of an
// effect into the C interface; the engine still catches at its boundary.

#include <vector>

#include <opencv2/core.hpp>

#include "face.h"

namespace facelume {

class Effect {
public:
    virtual ~Effect() = default;
    // True when the effect would change the frame; the engine skips inactive effects.
    virtual bool active() const = 0;
    // frame: 8-bit BGR (CV_8UC3). faces: every tracked face, presence included.
    virtual void apply(cv::Mat& frame, const std::vector<Face>& faces) = 0;
};

}  // namespace facelume
