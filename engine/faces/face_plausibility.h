#pragma once

// Decides whether a landmark fit describes a real face. The landmark model always returns a
// face-shaped set of points, even on a round badge or a patterned shirt that fooled the detector,
// so a face only counts when its points are arranged like a face (eyes above the nose, the nose
// between the cheeks, the mouth below, proportions within what head turns allow) and the eyes
// are darker than the cheeks below them. Both tests use grey levels relative to the face itself,
// so grey and sepia prints, flash-lit, blue-cast and dim faces pass alike. Stateless apart from
// scratch buffers; one thread.

#include <vector>

#include <opencv2/core.hpp>

#include "landmark_fitter.h"

namespace facelume {

class FacePlausibility {
public:
    // Geometry only.
    static bool shapeIsPlausible(const Landmarks& landmarks);

    // How far below the eye line the nose tip is, in eye distances; 0 when the eyes coincide.
    static float noseDepth(const Landmarks& landmarks);

    // Geometry and shading. grey: the frame (CV_8UC1). A new face must have eyes clearly darker
    // than its cheeks (maxEyeContrast kNewFace); a tracked one only not brighter (kTracked),
    // so that a blink or a highlight on glasses does not lose it. One a strong detection shows
    // (Detection::strong) may have them brighter (kStrongFace): an animated man's large white eyes
    // behind glasses, lit from the side, measure up to 1.14 where he is strongly detected.
    bool isPlausible(const Landmarks& landmarks, const cv::Mat& grey, double maxEyeContrast);

    // Mean grey of the two eyes over the mean grey of the two cheeks; 1 when either is empty.
    double eyeContrast(const Landmarks& landmarks, const cv::Mat& grey);
    // Mean grey (0..255) of the two cheeks; 0 when they are empty.
    double cheekGrey(const Landmarks& landmarks, const cv::Mat& grey);

    static constexpr double kNewFace = 0.8;
    static constexpr double kTracked = 1.0;
    static constexpr double kStrongFace = 1.2;

private:
    // Mean grey of the eyes and of the cheeks; false when either is empty.
    bool measure(const Landmarks& landmarks, const cv::Mat& grey, double& eyes, double& cheeks);
    void fill(const Landmarks& landmarks, std::initializer_list<int> points, uchar label,
              cv::Point offset);

    std::vector<cv::Point> m_polygon;
    cv::Mat m_labels;
    // What m_labels is a view into (see workArea).
    cv::Mat m_labelBuffer;
};

}  // namespace facelume
