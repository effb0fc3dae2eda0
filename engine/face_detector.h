#pragma once

// Finds upright frontal faces in a grey frame with dlib's HOG detector. Faces smaller than about
// 80 pixels are not found at the scale given, so callers pass a region scaled to suit the face
// size they look for. Not thread-safe: each thread uses its own detector. Construction costs a
// few milliseconds (the detector is unpacked from dlib's built-in model).

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

namespace facelume {

struct Detection {
    cv::Rect2f box;
    double score = 0.0;
};

class FaceDetector {
public:
    FaceDetector();
    ~FaceDetector();
    FaceDetector(const FaceDetector&) = delete;
    FaceDetector& operator=(const FaceDetector&) = delete;

    // Detects faces in grey (CV_8UC1) and appends them in grey's coordinates. Images smaller than
    // the detector's window give nothing. A negative threshold also accepts weaker detections.
    void detect(const cv::Mat& grey, std::vector<Detection>& found, double threshold = 0.0);

    // Detects in region of grey, scaled by scale first (0.5 finds faces twice the detector's
    // window size at half the cost); boxes are in grey's coordinates. REQUIRES: scale > 0.
    void detectIn(const cv::Mat& grey, cv::Rect region, double scale, std::vector<Detection>& found,
                  double threshold = 0.0);

    // The smallest face (box side in pixels) found at scale 1.
    static constexpr int kWindowSize = 80;

private:
    struct Model;
    std::unique_ptr<Model> m_model;
    cv::Mat m_scaled;
    std::vector<Detection> m_scratch;
};

}  // namespace facelume
