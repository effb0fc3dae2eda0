#pragma once

// Lipstick: colours the lips of every face, the outer lip contour minus the mouth opening,
// so teeth and tongue stay as they are, keeping the lips' own shading and highlights. Opacity
// is strength times the face's presence. One thread at a time; never throws.

#include <string>
#include <vector>

#include "effect.h"
#include "makeup_settings.h"
#include "tint_brush.h"

namespace facelume {

class FaceGeometry;

class Lipstick final : public Effect {
public:
    explicit Lipstick(std::string resourceFolder);

    // name: "#rrggbb" or a colour name; strength 0..1. Null or empty name: off.
    void configure(const char* name, float strength);
    bool active() const override;
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

private:
    void paintFace(cv::Mat& frame, const FaceGeometry& face);

    MakeupSettings m_settings;
    TintBrush m_brush;
    std::vector<cv::Point2f> m_outer;
    std::vector<cv::Point2f> m_inner;
    bool m_failureReported = false;
};

}  // namespace facelume
