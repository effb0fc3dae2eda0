#pragma once

// Skin smoothing: an edge-preserving smoothing of the frame (a guided filter with the image as
// its own guide, its coefficients computed at half resolution) mixed into the frame by the skin
// weights times the strength. Edges stronger than the skin's own texture (eyes, brows, lips, hair)
// pass through the filter, and most of the finest texture (pores) is added back so the skin does
// not look plastic.
// Strength 0..1, 0 off. One thread; no allocation once the frame size is stable.

#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "effect.h"
#include "skin_mask.h"

namespace facelume {

class SkinSmoothing final : public Effect {
public:
    // mask must outlive the effect and be updated for each frame before apply().
    explicit SkinSmoothing(const SkinMask& mask) : m_mask(mask) {}

    void setStrength(float strength);
    float strength() const { return m_strength; }
    bool active() const override { return m_strength > 0.f; }
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

private:
    void computeCoefficients(const cv::Mat& region);
    void blend(cv::Mat& region);

    const SkinMask& m_mask;
    float m_strength = 0.f;
    // Half-resolution images of the guided filter, then its coefficients at full resolution.
    cv::Mat m_small, m_guide, m_squares, m_mean, m_meanSquares, m_a, m_b, m_meanA, m_meanB;
    cv::Mat m_fullA, m_fullB;
    // The region after a 3 x 3 mean: the frame without its finest detail.
    cv::Mat m_fine;
    // What the images above are views into (see workArea).
    std::array<cv::Mat, 12> m_buffers;
};

}  // namespace facelume
