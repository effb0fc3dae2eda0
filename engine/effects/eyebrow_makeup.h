#pragma once

// Eyebrow make-up: fills and tints the brow region of every face (a band around each brow's
// landmarks, thicker at the inner end), like a brow pencil: gaps between hairs fill with the
// colour and the brow darkens toward it. Opacity is strength times the face's presence. One
// thread at a time; never throws.

#include <string>
#include <vector>

#include "face_makeup.h"

namespace facelume {

class EyebrowMakeup final : public FaceMakeup {
public:
    explicit EyebrowMakeup(std::string resourceFolder);

private:
    void paintFace(cv::Mat& frame, const FaceGeometry& face) override;

    std::vector<cv::Point2f> m_polygon;
};

}  // namespace facelume
