#pragma once

// Blush: a soft patch of colour on each cheek, placed from the landmarks between the jaw line,
// the nose wing and the eye, clear of the nose and of the eyes, tinted in CIE Lab so that it is
// as visible on dark skin as on light; below the rim of glasses, never on their lenses. Opacity
// is strength times the face's presence. One thread at a time; never throws.

#include <string>
#include <vector>

#include "face_makeup.h"
#include "lens_rim_finder.h"

namespace facelume {

class Blush final : public FaceMakeup {
public:
    explicit Blush(std::string resourceFolder);

private:
    void paintFace(cv::Mat& frame, const FaceGeometry& face) override;
    // How far a patch centred fromEye below the eye moves down so that its top reaches the rim
    // of glasses rim below the eye.
    static cv::Point2f lowering(cv::Point2f fromEye, float rim, float halfHeight,
                                const FaceGeometry& face);
    // Takes the paint off everything above the line across the face through line, fading it in
    // just below.
    void keepBelow(cv::Point2f line, const FaceGeometry& face);
    void clipAbove(cv::Point2f line, const FaceGeometry& face);

    LensRimFinder m_lensRims;
};

}  // namespace facelume
