#pragma once

// Lipstick: colours the lips of every face, the outer lip contour minus the mouth opening,
// so teeth and tongue stay as they are, keeping the lips' own shading and highlights; the soft
// edge is clipped to the lip line, so nothing spills onto the skin of a small face. Opacity
// is strength times the face's presence. Where the landmarks do not follow the head's turn (a head
// in profile, whose mouth they spread over the cheek), it fades out. Lips the landmarks laid a
// step too low on a bowed head are coloured where LipFinder finds them. One thread at a time;
// never throws.

#include <string>
#include <vector>

#include "face_makeup.h"
#include "lip_finder.h"

namespace facelume {

class Lipstick final : public FaceMakeup {
public:
    explicit Lipstick(std::string resourceFolder);

private:
    void paintFace(cv::Mat& frame, const FaceGeometry& face) override;

    LipFinder m_lipFinder;
    std::vector<cv::Point2f> m_outer;
    std::vector<cv::Point2f> m_inner;
};

}  // namespace facelume
