#include "neural_face_detector.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace facelume {
namespace {

constexpr int kAnchors = 896;
constexpr int kFineAnchors = 512;
constexpr int kValues = 16;
// Key points in the network's order (the person's right eye first).
constexpr int kRightEye = 0, kLeftEye = 1, kNose = 2;
// Two boxes of one face overlap by more than this (intersection over union).
constexpr float kSameFace = 0.3f;

float sigmoid(float x) { return 1.f / (1.f + std::exp(-std::clamp(x, -80.f, 80.f))); }

float iou(const cv::Rect2f& a, const cv::Rect2f& b) {
    const float inter = (a & b).area();
    const float all = a.area() + b.area() - inter;
    return all > 0.f ? inter / all : 0.f;
}

cv::Point2f apply(const cv::Matx23d& m, cv::Point2f p) {
    return cv::Point2f(float(m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2)),
                       float(m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2)));
}

// Anchor centre of anchor index in input pixels: a kFineCells square grid with 2 anchors a cell,
// then one of half as many cells a side with 6 anchors a cell, rows first.
cv::Point2f anchorCentre(int index, int side) {
    const bool fine = index < kFineAnchors;
    const int cells = fine ? NeuralFaceDetector::kFineCells : NeuralFaceDetector::kFineCells / 2;
    const int perCell = fine ? 2 : 6;
    const int cell = (fine ? index : index - kFineAnchors) / perCell;
    const float stride = float(side) / float(cells);
    return cv::Point2f((float(cell % cells) + 0.5f) * stride,
                       (float(cell / cells) + 0.5f) * stride);
}

}  // namespace

bool NeuralFaceDetector::load(const std::string& modelPath, int side, std::string& error) {
    m_side = 0;
    try {
        m_net = cv::dnn::readNetFromONNX(modelPath);
    } catch (const cv::Exception& e) {
        error = "cannot read the face detection model " + modelPath + ": " + e.err;
        return false;
    }
    m_outputNames = m_net.getUnconnectedOutLayersNames();
    if (m_outputNames.size() != 4) {
        error = "the face detection model " + modelPath +
                " does not have the four outputs of "
                "the short-range face detector";
        return false;
    }
    if (!run(side)) {
        error = "the face detection model " + modelPath + " does not give 896 anchors for a " +
                std::to_string(side) + "x" + std::to_string(side) + " picture";
        return false;
    }
    m_side = side;
    return true;
}

bool NeuralFaceDetector::run(int side) {
    if (m_square.size() != cv::Size(side, side)) m_square = cv::Mat::zeros(side, side, CV_8UC1);
    // Grey in all three channels, scaled to [-1, 1], as a 1 x side x side x 3 tensor.
    const int shape[] = {1, side, side, 3};
    m_input.create(4, shape, CV_32F);
    cv::Mat interleaved(side, side, CV_32FC3, m_input.ptr<float>());
    cv::Mat grey3;
    cv::cvtColor(m_square, grey3, cv::COLOR_GRAY2BGR);
    grey3.convertTo(interleaved, CV_32FC3, 1.0 / 127.5, -1.0);
    try {
        m_net.setInput(m_input);
        m_net.forward(m_outputs, m_outputNames);
    } catch (const cv::Exception&) {
        return false;
    }
    const auto rows = [this](size_t i) {
        return m_outputs[i].dims >= 2 ? m_outputs[i].size[1] : 0;
    };
    return m_outputs.size() == 4 && rows(0) + rows(1) == kAnchors && rows(2) == kFineAnchors &&
           rows(3) == kAnchors - kFineAnchors &&
           m_outputs[2].total() == size_t(kFineAnchors * kValues);
}

void NeuralFaceDetector::detectIn(const cv::Mat& grey, const ScanRegion& region,
                                  std::vector<Detection>& found, double threshold) {
    if (!loaded() || region.size.width < 1.f || region.size.height < 1.f) return;
    // The region turned upright and letterboxed into the square: frame point p goes to
    // transform * p.
    const double scale = m_side / std::max(region.size.width, region.size.height);
    cv::Matx23d transform =
        cv::getRotationMatrix2D(region.centre, region.roll * 180.0 / CV_PI, scale);
    transform(0, 2) += 0.5 * m_side - region.centre.x;
    transform(1, 2) += 0.5 * m_side - region.centre.y;
    cv::warpAffine(grey, m_square, transform, cv::Size(m_side, m_side),
                   scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar(0));
    if (!run(m_side)) return;
    cv::Matx23d back;
    cv::invertAffineTransform(transform, back);
    decode(back, threshold, found);
}

void NeuralFaceDetector::decode(const cv::Matx23d& back, double threshold,
                                std::vector<Detection>& found) {
    m_candidates.clear();
    for (int i = 0; i < kAnchors; ++i) {
        const bool fine = i < kFineAnchors;
        const int row = fine ? i : i - kFineAnchors;
        const float score = sigmoid(m_outputs[fine ? 0 : 1].ptr<float>()[row]);
        if (score < threshold) continue;
        const float* v = m_outputs[fine ? 2 : 3].ptr<float>() + row * kValues;
        const cv::Point2f anchor = anchorCentre(i, m_side);
        const auto point = [&](int k) {
            return apply(back, anchor + cv::Point2f(v[4 + 2 * k], v[5 + 2 * k]));
        };
        const cv::Point2f centre = apply(back, anchor + cv::Point2f(v[0], v[1]));
        const float side = float(std::max(v[2], v[3]) * std::hypot(back(0, 0), back(1, 0)));
        const cv::Point2f across = point(kLeftEye) - point(kRightEye);
        const float eyes = across.dot(across);
        const cv::Point2f nose = point(kNose) - 0.5f * (point(kLeftEye) + point(kRightEye));
        const cv::Point2f down(-across.y, across.x);
        const float turn = eyes > 0.f ? nose.dot(across) / eyes : 0.f;
        const float noseDepth = eyes > 0.f ? nose.dot(down) / eyes : NAN;
        m_candidates.push_back(
            {cv::Rect2f(centre.x - 0.5f * side, centre.y - 0.5f * side, side, side), score,
             std::atan2(across.y, across.x), turn, noseDepth, score < kWeakScore,
             score >= kStrongScore, std::sqrt(eyes)});
    }
    std::sort(m_candidates.begin(), m_candidates.end(),
              [](const Detection& a, const Detection& b) { return a.score > b.score; });
    const size_t first = found.size();
    for (const Detection& d : m_candidates) {
        const bool seen =
            std::any_of(found.begin() + long(first), found.end(),
                        [&](const Detection& f) { return iou(f.box, d.box) > kSameFace; });
        if (!seen) found.push_back(d);
    }
}

}  // namespace facelume
