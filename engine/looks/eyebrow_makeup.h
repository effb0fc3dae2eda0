#pragma once

// Eyebrow make-up: fills and tints the brow region of every face (a band around each brow's
// landmarks, thicker at the inner end), like a brow pencil: gaps between hairs fill with the
// colour and the brow darkens toward it. Opacity is strength times the face's presence. One
// thread at a time; never throws.

#include <string>
#include <vector>

#include "effect.h"
#include "makeup_settings.h"
#include "tint_brush.h"

namespace facelume {

class FaceGeometry;

class EyebrowMakeup final : public Effect {
public:
    explicit EyebrowMakeup(std::string resourceFolder);

    // name: "#rrggbb" or a colour name; strength 0..1. Null or empty name: off.
    void configure(const char* name, float strength);
    bool active() const override;
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

private:
    void paintFace(cv::Mat& frame, const FaceGeometry& face);

    MakeupSettings m_settings;
    TintBrush m_brush;
    std::vector<cv::Point2f> m_polygon;
    bool m_failureReported = false;
};

}  // namespace facelume
