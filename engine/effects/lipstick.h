#pragma once

// Lipstick: colours the lips of every face, the outer lip contour minus the mouth opening,
// so teeth and tongue stay as they are, keeping the lips' own shading and highlights; the soft
// edge is clipped to the lip line, so nothing spills onto the skin of a small face. Opacity
// is strength times the face's presence. Where the landmarks do not follow the head's turn (a head
// in profile, whose mouth they spread over the cheek), it fades out. One thread at a time; never
// throws.

#include <string>
#include <vector>

#include "face_makeup.h"

namespace facelume {

class Lipstick final : public FaceMakeup {
public:
    explicit Lipstick(std::string resourceFolder);

private:
    void paintFace(cv::Mat& frame, const FaceGeometry& face) override;

    std::vector<cv::Point2f> m_outer;
    std::vector<cv::Point2f> m_inner;
};

}  // namespace facelume
