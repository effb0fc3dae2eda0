#pragma once

// Blush: a soft patch of colour on each cheek, placed from the landmarks between the jaw line,
// the nose wing and the eye, clear of the nose and of the eyes, tinted in CIE Lab so that it is
// as visible on dark skin as on light. Opacity is strength times the face's presence. One
// thread at a time; never throws.

#include <string>
#include <vector>

#include "face_makeup.h"

namespace facelume {

class Blush final : public FaceMakeup {
public:
    explicit Blush(std::string resourceFolder);

private:
    void paintFace(cv::Mat& frame, const FaceGeometry& face) override;
};

}  // namespace facelume
