#include "lens_rim_finder.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "face_geometry.h"

namespace facelume {

namespace {

// The strip searched, in eye distances: across the cheek under the eye, from below the lashes
// to where the lowest lenses end.
constexpr float kHalfWidth = 0.2f;
constexpr float kFirstDepth = 0.12f;
constexpr float kLastDepth = 0.75f;
// A rim is at most this thick; its surroundings are compared over as much again on each side.
constexpr float kRimThickness = 0.07f;
// How much darker than both its sides the band must be: the lash line or a crease is less.
constexpr float kRimContrast = 0.18f;
// A rim runs across the whole strip; creases and lashes wander.
constexpr float kRimCoverage = 0.7f;

}  // namespace

std::optional<float> LensRimFinder::rimBelow(const cv::Mat& frame, cv::Point2f eye,
                                             const FaceGeometry& face) {
    const float distance = face.scale();
    const int width = std::max(3, cvRound(2.f * kHalfWidth * distance));
    const int depth = std::max(8, cvRound((kLastDepth - kFirstDepth) * distance));
    // Strip pixel (u, v) lies at eye + (u - width / 2) * across + (first + v) * down.
    const cv::Point2f across = face.across(), down = face.down();
    const cv::Point2f origin = eye - 0.5f * width * across + kFirstDepth * distance * down;
    const cv::Matx23f toFrame(across.x, down.x, origin.x, across.y, down.y, origin.y);
    cv::warpAffine(frame, m_strip, toFrame, cv::Size(width, depth),
                   cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    cv::cvtColor(m_strip, m_grey, cv::COLOR_BGR2GRAY);
    const std::optional<float> rim = rimInStrip(distance);
    if (!rim) return std::nullopt;
    return kFirstDepth * distance + *rim;
}

std::optional<float> LensRimFinder::rimInStrip(float eyeDistance) {
    const int band = std::max(2, cvRound(kRimThickness * eyeDistance));
    // Per column: the darkest of three rows (a rim may slant a little), and the brightest skin
    // within a band's reach.
    cv::erode(m_grey, m_darkest, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, 3)));
    cv::dilate(m_grey, m_brightest,
               cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, 2 * (band / 2) + 1)));
    const int reach = band / 2 + band / 2 + 1;
    // Creases of the skin under the eye can run as straight as a rim, but the lens covers
    // them: the deepest band is the rim.
    int rimRow = -1;
    for (int row = reach; row + reach < m_grey.rows; ++row) {
        const uchar* dark = m_darkest.ptr<uchar>(row);
        const uchar* above = m_brightest.ptr<uchar>(row - reach);
        const uchar* below = m_brightest.ptr<uchar>(row + reach);
        int count = 0;
        for (int col = 0; col < m_grey.cols; ++col)
            count += dark[col] < (1.f - kRimContrast) * std::min(above[col], below[col]);
        if (count >= kRimCoverage * m_grey.cols) rimRow = row;
    }
    if (rimRow < 0) return std::nullopt;
    return static_cast<float>(rimRow + band / 2);
}

}  // namespace facelume
