#include "landmark_fitter.h"

#include <algorithm>
#include <fstream>

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv.h>

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

bool LandmarkFitter::loaded() const { return m_model != nullptr; }

Landmarks LandmarkFitter::fit(const cv::Mat& grey, const cv::Rect2f& box) const {
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

cv::Rect2f LandmarkFitter::boxFromLandmarks(const Landmarks& landmarks) {
    float left = landmarks[0].x, right = left, top = landmarks[0].y, bottom = top;
    for (const cv::Point2f& p : landmarks) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    // The detector's box is about as wide as the landmarks and sits a tenth of its size higher
    // (it starts above the brows and ends at the chin).
    const float side = std::max(right - left, bottom - top);
    const float cx = 0.5f * (left + right);
    const float cy = 0.5f * (top + bottom) - 0.09f * side;
    return cv::Rect2f(cx - 0.5f * side, cy - 0.5f * side, side, side);
}

}  // namespace facelume
