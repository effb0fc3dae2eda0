#pragma once

// Decides whether a landmark fit describes a real face. The landmark model always returns a
// face-shaped set of points, even on a round badge or a patterned shirt that fooled the detector,
// so a new face only counts when its points are arranged like a face (eyes level above the nose,
// the nose between the cheeks, the mouth below, proportions within what head turns allow) and
// the skin between the eyes and the mouth has a skin colour. Stateless apart from scratch
// buffers; one thread.

#include <vector>

#include <opencv2/core.hpp>

#include "landmark_fitter.h"

namespace facelume {

class FacePlausibility {
public:
    // Geometry only: cheap, used on every frame of a tracked face.
    static bool shapeIsPlausible(const Landmarks& landmarks);

    // Geometry and colour: used before a new face is accepted. bgr is the frame (CV_8UC3).
    bool isPlausible(const Landmarks& landmarks, const cv::Mat& bgr);

    // Fraction (0..1) of pixels in the cheek and nose area whose colour is skin-like.
    double skinFraction(const Landmarks& landmarks, const cv::Mat& bgr);

private:
    std::vector<cv::Point> m_polygon;
    cv::Mat m_mask, m_ycrcb;
    // What the images above are views into (see workArea).
    cv::Mat m_maskBuffer, m_ycrcbBuffer;
};

}  // namespace facelume
