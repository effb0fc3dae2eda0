#pragma once

// Skin whitening: a brightening tone curve on luminance, applied where the skin weights are and
// scaled by them. The same luminance gain goes to all three channels, so the colour's chroma stays
// (no cast), and the gain shrinks as the brightest channel nears white, so nothing clips.
// Strength 0..1, 0 off. One thread; allocates nothing.

#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "effect.h"
#include "skin_mask.h"

namespace facelume {

class SkinWhitening final : public Effect {
public:
    // mask must outlive the effect and be updated for each frame before apply().
    explicit SkinWhitening(const SkinMask& mask) : m_mask(mask) {}

    void setStrength(float strength);
    float strength() const { return m_strength; }
    bool active() const override { return m_strength > 0.f; }
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

private:
    const SkinMask& m_mask;
    float m_strength = 0.f;
    // Luminance gain of the curve at each luma, already scaled by the strength.
    std::array<float, 256> m_lift{};
};

}  // namespace facelume
