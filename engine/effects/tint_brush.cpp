#include "tint_brush.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace facelume {

namespace {

constexpr int kShift = 4;  // sub-pixel bits of the drawing calls
constexpr float kOne = 1 << kShift;

float luma(float b, float g, float r) { return 0.114f * b + 0.587f * g + 0.299f * r; }

}  // namespace

bool TintBrush::begin(cv::Size frameSize, cv::Rect area) {
    m_area = area & cv::Rect(cv::Point(0, 0), frameSize);
    if (m_area.empty()) return false;
    if (m_buffer.size() != frameSize) m_buffer.create(frameSize, CV_8UC1);
    m_mask = m_buffer(m_area);
    m_mask.setTo(0);
    return true;
}

cv::Point TintBrush::fixedPoint(cv::Point2f p) const {
    return cv::Point(static_cast<int>(std::lround((p.x - m_area.x) * kOne)),
                     static_cast<int>(std::lround((p.y - m_area.y) * kOne)));
}

void TintBrush::fillPolygon(const std::vector<cv::Point2f>& polygon, uchar value) {
    fillPolygonInto(m_mask, polygon, value, cv::LINE_AA);
}

void TintBrush::fillPolygonInto(cv::Mat& mask, const std::vector<cv::Point2f>& polygon, uchar value,
                                int lineType) {
    m_points.clear();
    for (const cv::Point2f& p : polygon) m_points.push_back(fixedPoint(p));
    const cv::Point* contours[1] = {m_points.data()};
    const int counts[1] = {static_cast<int>(m_points.size())};
    cv::fillPoly(mask, contours, counts, 1, cv::Scalar(value), lineType, kShift);
}

void TintBrush::clipToPolygon(const std::vector<cv::Point2f>& polygon) {
    if (m_clipBuffer.size() != m_buffer.size()) m_clipBuffer.create(m_buffer.size(), CV_8UC1);
    cv::Mat clip = m_clipBuffer(m_area);
    clip.setTo(0);
    // Pixels whose centre lies outside get nothing, even the edge's partly covered ones.
    fillPolygonInto(clip, polygon, 255, cv::LINE_8);
    cv::min(m_mask, clip, m_mask);
}

void TintBrush::fillEllipse(cv::Point2f centre, cv::Size2f halfAxes, float angleDegrees,
                            uchar value) {
    const cv::Size axes(static_cast<int>(std::lround(halfAxes.width * kOne)),
                        static_cast<int>(std::lround(halfAxes.height * kOne)));
    cv::ellipse(m_mask, fixedPoint(centre), axes, angleDegrees, 0, 360, cv::Scalar(value),
                cv::FILLED, cv::LINE_AA, kShift);
}

void TintBrush::feather(double sigma) {
    // Isolated: the buffer outside the area holds older masks.
    cv::GaussianBlur(m_mask, m_mask, cv::Size(), sigma, sigma,
                     cv::BORDER_CONSTANT | cv::BORDER_ISOLATED);
}

void TintBrush::paint(cv::Mat& frame, cv::Vec3b color, float opacity, float lumaPull) const {
    if (m_area.empty() || frame.type() != CV_8UC3 || !(opacity > 0.f)) return;
    const float colorLuma = std::max(1.f, luma(color[0], color[1], color[2]));
    // The colour's difference from grey, per unit of its brightness: scaled by the target
    // brightness, a dark brown stays brown on light skin instead of turning grey.
    const float chroma[3] = {color[0] / colorLuma - 1.f, color[1] / colorLuma - 1.f,
                             color[2] / colorLuma - 1.f};
    const float scale = std::min(opacity, 1.f) / 255.f;
    for (int y = 0; y < m_mask.rows; ++y) {
        const uchar* mask = m_mask.ptr<uchar>(y);
        uchar* p = frame.ptr<uchar>(m_area.y + y) + 3 * m_area.x;
        for (int x = 0; x < m_mask.cols; ++x, p += 3) {
            if (mask[x] == 0) continue;
            const float alpha = mask[x] * scale;
            const float pixelLuma = luma(p[0], p[1], p[2]);
            const float target = pixelLuma + lumaPull * (colorLuma - pixelLuma);
            // Keep the target brightness when the chroma would leave the 0..255 range.
            float fit = 1.f;
            for (int c = 0; c < 3; ++c) {
                const float value = target + target * chroma[c];
                if (value < 0.f) fit = std::min(fit, target / (target - value));
                if (value > 255.f) fit = std::min(fit, (255.f - target) / (value - target));
            }
            for (int c = 0; c < 3; ++c) {
                const float tinted = target + target * chroma[c] * fit;
                p[c] = static_cast<uchar>(std::lround(p[c] + alpha * (tinted - p[c])));
            }
        }
    }
}

void TintBrush::paintPerceived(cv::Mat& frame, cv::Vec3b color, float opacity, float lumaPull) {
    if (m_area.empty() || frame.type() != CV_8UC3 || !(opacity > 0.f)) return;
    const cv::Mat colorPixel(1, 1, CV_32FC3, cv::Scalar(color[0], color[1], color[2]) / 255.0);
    cv::Mat colorLab;
    cv::cvtColor(colorPixel, colorLab, cv::COLOR_BGR2Lab);
    const cv::Vec3f target = colorLab.at<cv::Vec3f>(0, 0);
    if (m_labBuffer.size() != m_buffer.size()) {
        m_labBuffer.create(m_buffer.size(), CV_32FC3);
        m_tintedBuffer.create(m_buffer.size(), CV_32FC3);
    }
    cv::Mat lab = m_labBuffer(m_area), tinted = m_tintedBuffer(m_area);
    frame(m_area).convertTo(lab, CV_32F, 1.0 / 255.0);
    cv::cvtColor(lab, lab, cv::COLOR_BGR2Lab);
    const float scale = std::min(opacity, 1.f) / 255.f;
    for (int y = 0; y < m_mask.rows; ++y) {
        const uchar* mask = m_mask.ptr<uchar>(y);
        const cv::Vec3f* from = lab.ptr<cv::Vec3f>(y);
        cv::Vec3f* to = tinted.ptr<cv::Vec3f>(y);
        for (int x = 0; x < m_mask.cols; ++x) {
            const float alpha = mask[x] * scale;
            to[x][0] = from[x][0] + alpha * lumaPull * (target[0] - from[x][0]);
            to[x][1] = from[x][1] + alpha * (target[1] - from[x][1]);
            to[x][2] = from[x][2] + alpha * (target[2] - from[x][2]);
        }
    }
    // Both back to BGR: only the difference is added to the frame, so the conversions' own
    // rounding does not show where the mask is faint.
    cv::cvtColor(lab, lab, cv::COLOR_Lab2BGR);
    cv::cvtColor(tinted, tinted, cv::COLOR_Lab2BGR);
    for (int y = 0; y < m_mask.rows; ++y) {
        const uchar* mask = m_mask.ptr<uchar>(y);
        const cv::Vec3f* before = lab.ptr<cv::Vec3f>(y);
        const cv::Vec3f* after = tinted.ptr<cv::Vec3f>(y);
        cv::Vec3b* p = frame.ptr<cv::Vec3b>(m_area.y + y) + m_area.x;
        for (int x = 0; x < m_mask.cols; ++x) {
            if (mask[x] == 0) continue;
            for (int c = 0; c < 3; ++c)
                p[x][c] = cv::saturate_cast<uchar>(p[x][c] + 255.f * (after[x][c] - before[x][c]));
        }
    }
}

}  // namespace facelume
