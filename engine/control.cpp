#include "control.h"

#include <algorithm>
#include <cmath>

namespace facelume {

float Control::clamp(float value) const {
    return std::isfinite(value) ? std::clamp(value, low, high)
                                : (std::isnan(value) ? 0.f : (value > 0 ? high : low));
}

}  // namespace facelume
