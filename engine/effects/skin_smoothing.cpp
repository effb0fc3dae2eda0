#include "skin_smoothing.h"

#include "work_area.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace facelume {
namespace {

// Variance (in 0..1 intensity units) below which the filter smooths: skin blemishes and pores,
// but not the contrast of eyes, brows and lip contours.
constexpr double kEdgeVariance = 0.006;
// Share of the original detail kept at full strength.
constexpr float kTextureKept = 0.12f;
// Share of the finest detail (pores, a pixel or two across) added back on top at full
// strength: without it, smoothed skin looks like plastic.
constexpr float kPoresKept = 0.4f;
// The working images are views into larger buffers (see workArea): filters must not read the
// stale pixels beyond a view's edge.
constexpr int kBorder = cv::BORDER_REFLECT | cv::BORDER_ISOLATED;

}  // namespace

void SkinSmoothing::setStrength(float strength) { m_strength = strength; }

void SkinSmoothing::apply(cv::Mat& frame, const std::vector<Face>&) {
    const cv::Rect region = m_mask.region();
    if (region.empty()) return;
    cv::Mat part = frame(region);
    computeCoefficients(part);
    // The finest detail is what a 3 x 3 mean takes away.
    m_fine = workArea(m_buffers[11], region.size(), CV_8UC3);
    cv::blur(part, m_fine, cv::Size(3, 3), cv::Point(-1, -1), kBorder);
    blend(part);
}

void SkinSmoothing::computeCoefficients(const cv::Mat& region) {
    const double scale = std::min(region.cols, region.rows) >= 32 ? 0.5 : 1.0;
    const cv::Size small = scaledSize(region.size(), scale);
    m_small = workArea(m_buffers[0], small, CV_8UC3);
    m_guide = workArea(m_buffers[1], small, CV_32FC3);
    m_squares = workArea(m_buffers[2], small, CV_32FC3);
    m_mean = workArea(m_buffers[3], small, CV_32FC3);
    m_meanSquares = workArea(m_buffers[4], small, CV_32FC3);
    m_a = workArea(m_buffers[5], small, CV_32FC3);
    m_b = workArea(m_buffers[6], small, CV_32FC3);
    m_meanA = workArea(m_buffers[7], small, CV_32FC3);
    m_meanB = workArea(m_buffers[8], small, CV_32FC3);
    m_fullA = workArea(m_buffers[9], region.size(), CV_32FC3);
    m_fullB = workArea(m_buffers[10], region.size(), CV_32FC3);
    cv::resize(region, m_small, small, 0, 0, cv::INTER_AREA);
    m_small.convertTo(m_guide, CV_32FC3, 1.0 / 255.0);
    // The radius follows the face size (about a sixth of the eye distance at full resolution),
    // bounded by the region's smaller side so that odd shapes cost no more than square ones.
    const int radius = std::clamp(cvRound(m_mask.scaleHint() * scale / 6.0), 1,
                                  std::max(1, std::min(small.width, small.height) / 2));
    const cv::Size window(2 * radius + 1, 2 * radius + 1);
    cv::boxFilter(m_guide, m_mean, CV_32F, window, cv::Point(-1, -1), true, kBorder);
    cv::multiply(m_guide, m_guide, m_squares);
    cv::boxFilter(m_squares, m_meanSquares, CV_32F, window, cv::Point(-1, -1), true, kBorder);
    // a = var / (var + eps), b = mean - a * mean, per channel.
    const int count = small.width * 3;
    for (int y = 0; y < small.height; ++y) {
        const float* mean = m_mean.ptr<float>(y);
        const float* meanSquares = m_meanSquares.ptr<float>(y);
        float* a = m_a.ptr<float>(y);
        float* b = m_b.ptr<float>(y);
        for (int i = 0; i < count; ++i) {
            const float variance = std::max(0.f, meanSquares[i] - mean[i] * mean[i]);
            a[i] = variance / (variance + float(kEdgeVariance));
            b[i] = mean[i] * (1.f - a[i]);
        }
    }
    cv::boxFilter(m_a, m_meanA, CV_32F, window, cv::Point(-1, -1), true, kBorder);
    cv::boxFilter(m_b, m_meanB, CV_32F, window, cv::Point(-1, -1), true, kBorder);
    cv::resize(m_meanA, m_fullA, region.size(), 0, 0, cv::INTER_LINEAR);
    cv::resize(m_meanB, m_fullB, region.size(), 0, 0, cv::INTER_LINEAR);
}

void SkinSmoothing::blend(cv::Mat& region) {
    const cv::Rect where = m_mask.region();
    const float mix = m_strength * (1.f - kTextureKept) / 255.f;
    for (int y = 0; y < region.rows; ++y) {
        uchar* pixel = region.ptr<uchar>(y);
        const uchar* fine = m_fine.ptr<uchar>(y);
        const uchar* weight = m_mask.weights().ptr<uchar>(where.y + y) + where.x;
        const float* a = m_fullA.ptr<float>(y);
        const float* b = m_fullB.ptr<float>(y);
        for (int x = 0; x < region.cols; ++x) {
            if (!weight[x]) continue;
            const float w = mix * weight[x];
            for (int c = 0; c < 3; ++c) {
                const int i = 3 * x + c;
                const float value = pixel[i];
                const float smooth = a[i] * value + 255.f * b[i];
                const float pores = kPoresKept * (value - fine[i]);
                pixel[i] = cv::saturate_cast<uchar>(value + w * (smooth + pores - value));
            }
        }
    }
}

}  // namespace facelume
