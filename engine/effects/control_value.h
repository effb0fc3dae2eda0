#pragma once

// Clamping of the controls' values: every control is clamped to its range, and a value that is
// not a number turns it off (0) instead of spreading NaN through the pixels.

#include <algorithm>
#include <cmath>

namespace facelume {

inline float clampControl(float value, float low, float high) {
    return std::isfinite(value) ? std::clamp(value, low, high)
                                : (std::isnan(value) ? 0.f : (value > 0 ? high : low));
}

}  // namespace facelume
