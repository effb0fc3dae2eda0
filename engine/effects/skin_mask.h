#pragma once

// Where the skin is: a weight 0..255 per pixel shared by skin smoothing and whitening.
//
// The weight is the outline of each found face (jaw line and forehead) without the eyes, brows
// and lips, feathered, scaled by the face's presence, times a skin-colour likelihood whose colour
// model is learnt from the face's own cheeks. Only the region around the faces is computed and
// nothing outside it has weight: without a face, the skin effects leave the frame alone (a
// colour test alone would take walls, shirts, beards and lips for skin). Built at half resolution
// and scaled up. One thread; no allocation once the frame size is stable.

#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "face.h"

namespace facelume {

class SkinMask {
public:
    // Builds the mask for frame (CV_8UC3) and faces.
    void update(const cv::Mat& frame, const std::vector<Face>& faces);
    // CV_8UC1 of the frame's size; valid inside region() only, 0 is assumed outside.
    const cv::Mat& weights() const { return m_weights; }
    // The part of the frame where the weight may be above 0.
    cv::Rect region() const { return m_region; }
    // The largest face's eye distance in pixels, for the effects' filter radii.
    float scaleHint() const { return m_scaleHint; }

private:
    cv::Rect chooseRegion(const cv::Mat& frame, const std::vector<Face>& faces);
    void learnColour(const std::vector<Face>& faces);
    void buildColourTable();
    void drawFaces(const std::vector<Face>& faces);

    cv::Mat m_weights;
    cv::Rect m_region;
    float m_scaleHint = 1.f;
    float m_scale = 0.5f;
    // Half-resolution working images of the region.
    cv::Mat m_small, m_ycrcb, m_faceWeight, m_likelihood, m_combined, m_blurred;
    // What the images above are views into (see workArea).
    std::array<cv::Mat, 6> m_buffers;
    // Skin likelihood by (Cr / 4, Cb / 4).
    std::array<uchar, 64 * 64> m_colourTable{};
    // The colour model: mean and inverse covariance of (Cr, Cb).
    cv::Vec2f m_mean{150.f, 112.f};
    cv::Matx22f m_inverseCovariance{1.f / 110.f, 0.f, 0.f, 1.f / 110.f};
    std::vector<cv::Point> m_polygon;
};

}  // namespace facelume
