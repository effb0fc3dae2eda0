#pragma once

// Eye scale and face thin: both shape controls as one smooth displacement field around the faces,
// applied with one remap per group of overlapping handle discs (faces apart are warped apart).
//
// Each eye is scaled about its centre inside an ellipse a little wider than the eye (value -1..1:
// 1 enlarges by about a third, negative shrinks); the scaling fades out before the brows and
// the rims of glasses, which stay straight. The jaw and cheek contour is pulled
// toward the face's centre line by local translations of the jaw landmarks with a smooth falloff
// (value -1..1: 1 slims by about a seventh of the half-width, negative widens); outside the
// face's outline it fades out within a quarter of the eye distance, so collars, lapels and
// straight edges beyond do not bend. Both scale with each face's presence.
// The field is computed at a quarter of the resolution and interpolated.
// One caller at a time; no allocation once the frame and face sizes are stable.

#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "effect.h"

namespace facelume {

class FaceWarp final : public Effect {
public:
    void setEyeScale(float value);
    void setFaceThin(float value);
    float eyeScale() const { return m_eyeScale; }
    float faceThin() const { return m_faceThin; }
    bool active() const override { return m_eyeScale != 0.f || m_faceThin != 0.f; }
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

    // Where the landmarks of faces are after the warp, for the effects that follow it.
    void moveLandmarks(const std::vector<Face>& faces, std::vector<Face>& moved) const;

private:
    // One local deformation around centre: an ellipse that scales about it (scale != 0), or a
    // disc that shifts by shift (pixels come from centre - shift, so content moves by +shift).
    struct Handle {
        cv::Point2f centre;
        // The disc's radius, or the ellipse's half-axis along `along`.
        float radius = 0.f;
        float scale = 0.f;
        // The ellipse's long axis (a unit vector) and its ratio to the short one.
        cv::Point2f along{1.f, 0.f};
        float squash = 1.f;
        cv::Point2f shift;
        // The face outline a shift fades out beyond, an index into m_outlines.
        int outline = -1;
    };
    struct Outline {
        std::vector<cv::Point> polygon;
        float fade = 1.f;
    };

    void collectHandles(const std::vector<Face>& faces);
    cv::Point2f displacement(cv::Point2f p) const;
    // 1 inside the outline, falling smoothly to 0 at its fade distance outside.
    static float insideOutline(const Outline& outline, cv::Point2f p);
    // Fills m_regions: the bounds of the handle discs, overlapping ones merged, within frame.
    void findRegions(const cv::Mat& frame);
    void buildMaps(const cv::Rect& region);
    // The per-pixel maps from the grid.
    void interpolateMaps();
    void warpRegion(cv::Mat& frame, const cv::Rect& region);

    float m_eyeScale = 0.f;
    float m_faceThin = 0.f;
    std::vector<Handle> m_handles;
    std::vector<Outline> m_outlines;
    std::vector<cv::Rect> m_regions;
    cv::Mat m_smallX, m_smallY, m_mapX, m_mapY, m_source;
    // What the images above are views into (see workArea).
    std::array<cv::Mat, 5> m_buffers;
};

}  // namespace facelume
