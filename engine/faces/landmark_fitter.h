#pragma once

// Fits dlib's 68-point landmark model to a face box (about 4 ms a face here). load() reads the
// model file (about 100 MB, under a second); fit() is const and may run on several threads at
// once once loading has finished. load() and loaded() may run on another thread than fit(), as
// long as that thread is joined before the first fit.

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
    // Reads only the head of the model file (milliseconds, where load() takes a third of a
    // second): false, with error set as by load(), when it is no 68-point landmark model.
    [[nodiscard]] static bool check(const std::string& modelPath, std::string& error);
    bool loaded() const;

    // grey: CV_8UC1 frame; box and roll: a face box as the detector gives it (Detection). The
    // model is fitted to an upright view of a tilted face: fitted as it is, a face rolled by
    // 40 degrees gets its mouth points on the chin.
    Landmarks fit(const cv::Mat& grey, const cv::Rect2f& box, float roll = 0.f) const;

    // The detector-style box (upright in the face's own frame) and roll that the landmarks of a
    // face correspond to, for fitting the same face again in the next frame.
    static cv::Rect2f boxFromLandmarks(const Landmarks& landmarks);
    static float rollOf(const Landmarks& landmarks);

    // Below this roll (radians, about 11 degrees) faces are fitted as they are.
    static constexpr float kUprightRoll = 0.2f;

private:
    Landmarks fitUpright(const cv::Mat& grey, const cv::Rect2f& box) const;

    struct Model;
    std::unique_ptr<Model> m_model;
};

}  // namespace facelume
