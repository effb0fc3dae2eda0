#pragma once

// Blush: a soft patch of colour on each cheek, placed from the landmarks between the jaw line,
// the nose wing and the eye, clear of the nose and of the eyes. Opacity is strength times the
// face's presence. One thread at a time; never throws.

#include <string>
#include <vector>

#include "effect.h"
#include "makeup_settings.h"
#include "tint_brush.h"

namespace facelume {

class FaceGeometry;

class Blush final : public Effect {
public:
    explicit Blush(std::string resourceFolder);

    // name: "#rrggbb" or a colour name; strength 0..1. Null or empty name: off.
    void configure(const char* name, float strength);
    bool active() const override;
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

private:
    void paintFace(cv::Mat& frame, const FaceGeometry& face);

    MakeupSettings m_settings;
    TintBrush m_brush;
    bool m_failureReported = false;
};

}  // namespace facelume
