#include "face_detector.h"

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv.h>
#include <opencv2/imgproc.hpp>

namespace facelume {

struct FaceDetector::Model {
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    std::vector<dlib::rect_detection> detections;
};

FaceDetector::FaceDetector() : m_model(std::make_unique<Model>()) {}

FaceDetector::~FaceDetector() = default;

void FaceDetector::detect(const cv::Mat& grey, std::vector<Detection>& found, double threshold) {
    // Below the window size the HOG pyramid has no level to scan.
    if (grey.cols < kWindowSize / 2 || grey.rows < kWindowSize / 2) return;
    dlib::cv_image<unsigned char> image(grey);
    m_model->detections.clear();
    m_model->detector(image, m_model->detections, threshold);
    for (const dlib::rect_detection& d : m_model->detections) {
        const dlib::rectangle& r = d.rect;
        found.push_back(
            {cv::Rect2f(float(r.left()), float(r.top()), float(r.width()), float(r.height())),
             d.detection_confidence});
    }
}

void FaceDetector::detectIn(const cv::Mat& grey, cv::Rect region, double scale,
                            std::vector<Detection>& found, double threshold) {
    region &= cv::Rect(0, 0, grey.cols, grey.rows);
    if (region.empty()) return;
    const cv::Mat part = grey(region);
    const cv::Mat* source = &part;
    if (scale != 1.0) {
        cv::resize(part, m_scaled, cv::Size(), scale, scale, cv::INTER_AREA);
        source = &m_scaled;
    }
    m_scratch.clear();
    detect(*source, m_scratch, threshold);
    const float back = float(1.0 / scale);
    for (const Detection& d : m_scratch) {
        const cv::Rect2f& b = d.box;
        found.push_back({cv::Rect2f(region.x + b.x * back, region.y + b.y * back, b.width * back,
                                    b.height * back),
                         d.score});
    }
}

}  // namespace facelume
