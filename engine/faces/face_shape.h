#pragma once

// Small measurements on the 68 landmarks shared by the effects: centres of the eyes, the face's
// centre line, and the polygons of the face's parts. Pure functions.

#include <vector>

#include <opencv2/core.hpp>

#include "face.h"

namespace facelume {

class FaceShape {
public:
    static cv::Point2f mean(const Face& face, int first, int last);
    static cv::Point2f rightEyeCentre(const Face& face) { return mean(face, 36, 41); }
    static cv::Point2f leftEyeCentre(const Face& face) { return mean(face, 42, 47); }
    // Unit vector pointing from the brows down to the chin, square to the eye line.
    static cv::Point2f downAxis(const Face& face);
    // The point on the face's centre line (through the nose bridge, along downAxis) nearest to p.
    static cv::Point2f onCentreLine(const Face& face, cv::Point2f p);

    // Outline of the face: the jaw line and, above the brows, an estimated forehead. Scaled by
    // scale, in pixels.
    static void outline(const Face& face, float scale, std::vector<cv::Point>& polygon);
    // Landmarks first..last as a polygon scaled about its own centre by grow, then by scale.
    static void part(const Face& face, int first, int last, float grow, float scale,
                     std::vector<cv::Point>& polygon);
    // The bounding box of the outline, in pixels.
    static cv::Rect2f bounds(const Face& face);
};

}  // namespace facelume
