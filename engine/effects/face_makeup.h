#pragma once

// The common frame of the make-up effects: a colour and a strength (MakeupSettings), a tint
// brush, and a pass over every usable face that paints it. Subclasses say only how one face is
// painted. Opacity is strength times the face's presence. One thread at a time; never throws.

#include <string>
#include <vector>

#include "effect.h"
#include "makeup_settings.h"
#include "tint_brush.h"

namespace facelume {

class FaceGeometry;

class FaceMakeup : public Effect {
public:
    // name: "#rrggbb" or a colour name; strength 0..1. Null or empty name: off.
    void configure(const char* name, float strength);
    bool active() const final;
    void apply(cv::Mat& frame, const std::vector<Face>& faces) final;

protected:
    // kind names the effect in messages about its colours; label names it in failure messages.
    FaceMakeup(std::string resourceFolder, const char* kind, const char* label);

    virtual void paintFace(cv::Mat& frame, const FaceGeometry& face) = 0;

    MakeupSettings m_settings;
    TintBrush m_brush;

private:
    const char* m_label;
    bool m_failureReported = false;
};

}  // namespace facelume
