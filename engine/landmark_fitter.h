#pragma once

// Fits dlib's 68-point landmark model to a face box (about 4 ms a face here). load() reads the
// model file (about 100 MB, under a second); fit() is const and may run on several threads at
// once once loading has finished.

#include <array>
#include <memory>
#include <string>

#include <opencv2/core.hpp>

namespace facelume {

using Landmarks = std::array<cv::Point2f, 68>;

class LandmarkFitter {
public:
    LandmarkFitter();
    ~LandmarkFitter();
    LandmarkFitter(const LandmarkFitter&) = delete;
    LandmarkFitter& operator=(const LandmarkFitter&) = delete;

    // Reads the model. On failure returns false and sets error to a sentence naming the file.
    [[nodiscard]] bool load(const std::string& modelPath, std::string& error);
    bool loaded() const;

    // grey: CV_8UC1 frame; box: a face box as the HOG detector gives it.
    Landmarks fit(const cv::Mat& grey, const cv::Rect2f& box) const;

    // The detector-style box that the landmarks of a face correspond to, for fitting the same
    // face again in the next frame.
    static cv::Rect2f boxFromLandmarks(const Landmarks& landmarks);

private:
    struct Model;
    std::unique_ptr<Model> m_model;
};

}  // namespace facelume
