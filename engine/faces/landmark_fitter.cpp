#include "landmark_fitter.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv.h>
#include <opencv2/imgproc.hpp>

namespace facelume {

struct LandmarkFitter::Model {
    dlib::shape_predictor predictor;
};

LandmarkFitter::LandmarkFitter() = default;

LandmarkFitter::~LandmarkFitter() = default;

bool LandmarkFitter::load(const std::string& modelPath, std::string& error) {
    std::ifstream in(modelPath, std::ios::binary);
    if (!in) {
        error = "cannot open the face landmark model " + modelPath;
        return false;
    }
    auto model = std::make_unique<Model>();
    try {
        dlib::deserialize(model->predictor, in);
    } catch (const std::exception& e) {
        error = "cannot read the face landmark model " + modelPath + ": " + e.what();
        return false;
    }
    if (model->predictor.num_parts() != 68) {
        error = "the face landmark model " + modelPath + " does not have 68 points";
        return false;
    }
    m_model = std::move(model);
    return true;
}

bool LandmarkFitter::check(const std::string& modelPath, std::string& error) {
    std::ifstream in(modelPath, std::ios::binary);
    if (!in) {
        error = "cannot open the face landmark model " + modelPath;
        return false;
    }
    // The head of dlib's shape predictor: its format version and its mean shape.
    int version = 0;
    dlib::matrix<float, 0, 1> meanShape;
    try {
        dlib::deserialize(version, in);
        if (version == 1) dlib::deserialize(meanShape, in);
    } catch (const std::exception& e) {
        error = "cannot read the face landmark model " + modelPath + ": " + e.what();
        return false;
    }
    if (version != 1 || meanShape.size() != 2 * 68) {
        error = "the face landmark model " + modelPath + " is no 68-point dlib shape predictor";
        return false;
    }
    return true;
}

bool LandmarkFitter::loaded() const { return m_model != nullptr; }

Landmarks LandmarkFitter::fit(const cv::Mat& grey, const cv::Rect2f& box, float roll) const {
    if (std::abs(roll) < kUprightRoll) return fitUpright(grey, box);
    // A square twice the box's side around its centre, turned upright.
    const cv::Point2f centre(box.x + 0.5f * box.width, box.y + 0.5f * box.height);
    const float side = 2.f * std::max(box.width, box.height);
    cv::Matx23d transform = cv::getRotationMatrix2D(centre, roll * 180.0 / CV_PI, 1.0);
    transform(0, 2) += 0.5 * side - centre.x;
    transform(1, 2) += 0.5 * side - centre.y;
    cv::Mat upright;
    cv::warpAffine(grey, upright, transform, cv::Size(cvCeil(side), cvCeil(side)), cv::INTER_LINEAR,
                   cv::BORDER_REPLICATE);
    Landmarks landmarks =
        fitUpright(upright, cv::Rect2f(0.5f * side - 0.5f * box.width,
                                       0.5f * side - 0.5f * box.height, box.width, box.height));
    cv::Matx23d back;
    cv::invertAffineTransform(transform, back);
    for (cv::Point2f& p : landmarks) {
        p = cv::Point2f(float(back(0, 0) * p.x + back(0, 1) * p.y + back(0, 2)),
                        float(back(1, 0) * p.x + back(1, 1) * p.y + back(1, 2)));
    }
    return landmarks;
}

Landmarks LandmarkFitter::fitUpright(const cv::Mat& grey, const cv::Rect2f& box) const {
    dlib::cv_image<unsigned char> image(grey);
    const dlib::rectangle rect(long(box.x), long(box.y), long(box.x + box.width),
                               long(box.y + box.height));
    const dlib::full_object_detection shape = m_model->predictor(image, rect);
    Landmarks landmarks;
    for (size_t i = 0; i < landmarks.size(); ++i) {
        landmarks[i] = cv::Point2f(float(shape.part(i).x()), float(shape.part(i).y()));
    }
    return landmarks;
}

float LandmarkFitter::rollOf(const Landmarks& l) {
    cv::Point2f right(0.f, 0.f), left(0.f, 0.f);
    for (size_t i = 0; i < 6; ++i) {
        right += l[36 + i];
        left += l[42 + i];
    }
    const cv::Point2f across = left - right;
    return std::atan2(across.y, across.x);
}

cv::Rect2f LandmarkFitter::boxFromLandmarks(const Landmarks& landmarks) {
    // The bounds of the points turned upright about their first point.
    const float roll = rollOf(landmarks), c = std::cos(roll), s = std::sin(roll);
    const cv::Point2f origin = landmarks[0];
    const auto upright = [&](cv::Point2f p) {
        const cv::Point2f d = p - origin;
        return cv::Point2f(c * d.x + s * d.y, -s * d.x + c * d.y);
    };
    float left = 0.f, right = 0.f, top = 0.f, bottom = 0.f;
    for (const cv::Point2f& p : landmarks) {
        const cv::Point2f u = upright(p);
        left = std::min(left, u.x);
        right = std::max(right, u.x);
        top = std::min(top, u.y);
        bottom = std::max(bottom, u.y);
    }
    // The detector's box is about as wide as the landmarks and sits a tenth of its size higher
    // (it starts above the brows and ends at the chin).
    const float side = std::max(right - left, bottom - top);
    const cv::Point2f centre(0.5f * (left + right), 0.5f * (top + bottom) - 0.09f * side);
    // Back into the frame.
    const cv::Point2f frameCentre =
        origin + cv::Point2f(c * centre.x - s * centre.y, s * centre.x + c * centre.y);
    return cv::Rect2f(frameCentre.x - 0.5f * side, frameCentre.y - 0.5f * side, side, side);
}

}  // namespace facelume
