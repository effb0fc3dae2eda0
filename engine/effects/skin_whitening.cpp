#include "skin_whitening.h"

#include <algorithm>

namespace facelume {
namespace {

// Lift at mid-grey at full strength, in luma levels: y + k * y * (255 - y) / 255.
constexpr float kCurve = 0.5f;

}  // namespace

void SkinWhitening::setStrength(float strength) {
    m_strength = strength;
    for (int y = 0; y < 256; ++y) {
        m_lift[size_t(y)] = m_strength * kCurve * float(y) * float(255 - y) / 255.f;
    }
}

void SkinWhitening::apply(cv::Mat& frame, const std::vector<Face>&) {
    const cv::Rect region = m_mask.region();
    for (int y = region.y; y < region.y + region.height; ++y) {
        uchar* pixel = frame.ptr<uchar>(y) + 3 * region.x;
        const uchar* weight = m_mask.weights().ptr<uchar>(y) + region.x;
        for (int x = 0; x < region.width; ++x, pixel += 3) {
            if (!weight[x]) continue;
            const int luma = (29 * pixel[0] + 150 * pixel[1] + 77 * pixel[2] + 128) >> 8;
            const float lift = m_lift[size_t(luma)] * float(weight[x]) * (1.f / 255.f);
            // Headroom of the brightest channel: the lift bends smoothly below it.
            const float headroom = float(255 - std::max({pixel[0], pixel[1], pixel[2]}));
            const float add = lift * headroom / (lift + headroom + 1e-3f);
            for (int c = 0; c < 3; ++c) pixel[c] = cv::saturate_cast<uchar>(pixel[c] + add);
        }
    }
}

}  // namespace facelume
