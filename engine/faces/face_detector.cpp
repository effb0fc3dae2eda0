#include "face_detector.h"

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv.h>
#include <opencv2/imgproc.hpp>

namespace facelume {

namespace {

// Unpacking dlib's built-in detector costs about a third of a second of CPU; copying it, next to
// nothing. Every detector copies the one unpacked once per process.
const dlib::frontal_face_detector& unpacked() {
    static const dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    return detector;
}

}  // namespace

struct FaceDetector::Model {
    dlib::frontal_face_detector detector = unpacked();
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

void FaceDetector::detectIn(const cv::Mat& grey, const ScanRegion& region,
                            std::vector<Detection>& found, double threshold) {
    // The region turned upright and scaled into m_scaled: frame point p goes to transform * p.
    cv::Matx23d transform;
    cv::Mat scanned = m_scaled;
    if (region.roll == 0.f) {
        const cv::Rect part =
            cv::Rect(cv::Point(cvFloor(region.centre.x - 0.5f * region.size.width),
                               cvFloor(region.centre.y - 0.5f * region.size.height)),
                     cv::Size(cvCeil(region.size.width), cvCeil(region.size.height))) &
            cv::Rect(0, 0, grey.cols, grey.rows);
        if (part.empty()) return;
        if (region.scale == 1.0) {
            scanned = grey(part);
        } else {
            cv::resize(grey(part), m_scaled, cv::Size(), region.scale, region.scale,
                       cv::INTER_AREA);
            scanned = m_scaled;
        }
        const double sx = double(scanned.cols) / part.width;
        const double sy = double(scanned.rows) / part.height;
        transform = cv::Matx23d(sx, 0, -sx * part.x, 0, sy, -sy * part.y);
    } else {
        const cv::Size size(cvRound(region.size.width * region.scale),
                            cvRound(region.size.height * region.scale));
        if (size.width < 1 || size.height < 1) return;
        transform =
            cv::getRotationMatrix2D(region.centre, region.roll * 180.0 / CV_PI, region.scale);
        transform(0, 2) += 0.5 * size.width - region.centre.x;
        transform(1, 2) += 0.5 * size.height - region.centre.y;
        cv::warpAffine(grey, m_scaled, transform, size, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        scanned = m_scaled;
    }
    m_scratch.clear();
    detect(scanned, m_scratch, threshold);
    cv::Matx23d back;
    cv::invertAffineTransform(transform, back);
    const float unscale = float(1.0 / region.scale);
    for (const Detection& d : m_scratch) {
        const cv::Point2d c(d.box.x + 0.5 * d.box.width, d.box.y + 0.5 * d.box.height);
        const cv::Point2f centre(float(back(0, 0) * c.x + back(0, 1) * c.y + back(0, 2)),
                                 float(back(1, 0) * c.x + back(1, 1) * c.y + back(1, 2)));
        const cv::Size2f side(d.box.width * unscale, d.box.height * unscale);
        found.push_back(
            {cv::Rect2f(centre - cv::Point2f(0.5f * side.width, 0.5f * side.height), side), d.score,
             region.roll});
    }
}

}  // namespace facelume
