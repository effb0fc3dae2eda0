#include "lens_rim_finder.h"

#include <algorithm>
#include <cmath>
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
// A rim that curves with the lens is followed from column to column, a row up or down at most,
// and must stay as much darker than both its sides over this much of the strip's width without a
// break: under-eye shadows reach 0.62 of it, thin metal rims 0.8 and more.
constexpr float kCurveCoverage = 0.75f;
// Beside a lens whose rim is found, a rim within this many eye distances of the same depth needs
// to run across this much of the strip only.
constexpr float kPairedTolerance = 0.1f;
constexpr float kPairedCoverage = 0.45f;
// Darkness counted per column at most, so that one very dark spot does not pull the path to it.
constexpr float kCurveCap = 0.3f;

}  // namespace

std::array<std::optional<float>, 2> LensRimFinder::rimsBelow(const cv::Mat& frame,
                                                             const std::array<cv::Point2f, 2>& eyes,
                                                             const FaceGeometry& face) {
    const std::array<std::optional<float>, 2> alone = {
        rimBelow(frame, eyes[0], face, std::nullopt), rimBelow(frame, eyes[1], face, std::nullopt)};
    std::array<std::optional<float>, 2> rims = alone;
    for (int side = 0; side < 2; ++side) {
        const std::optional<float>& other = alone[1 - side];
        // A crease above the rim may be found in its place.
        if (!other || (rims[side] && *rims[side] > *other - kPairedTolerance * face.scale()))
            continue;
        if (const std::optional<float> paired = rimBelow(frame, eyes[side], face, other))
            rims[side] = paired;
    }
    return rims;
}

std::optional<float> LensRimFinder::rimBelow(const cv::Mat& frame, cv::Point2f eye,
                                             const FaceGeometry& face,
                                             std::optional<float> pairedDepth) {
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
    const std::optional<float> rim = rimInStrip(
        distance,
        pairedDepth ? std::optional<float>(*pairedDepth - kFirstDepth * distance) : std::nullopt);
    if (!rim) return std::nullopt;
    return kFirstDepth * distance + *rim;
}

std::optional<float> LensRimFinder::rimInStrip(float eyeDistance, std::optional<float> pairedRow) {
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
    if (pairedRow) *pairedRow -= band / 2;
    rimRow = std::max(rimRow, curvedRimRow(reach, pairedRow, kPairedTolerance * eyeDistance));
    if (rimRow < 0) return std::nullopt;
    return static_cast<float>(rimRow + band / 2);
}

void LensRimFinder::measureContrast(int reach) {
    m_contrast.create(m_grey.size(), CV_32F);
    m_contrast.setTo(0.f);
    for (int row = reach; row + reach < m_grey.rows; ++row) {
        const uchar* grey = m_grey.ptr<uchar>(row);
        const uchar* above = m_brightest.ptr<uchar>(row - reach);
        const uchar* below = m_brightest.ptr<uchar>(row + reach);
        float* contrast = m_contrast.ptr<float>(row);
        for (int col = 0; col < m_grey.cols; ++col) {
            const int skin = std::min(above[col], below[col]);
            contrast[col] = skin > 0 ? 1.f - grey[col] / static_cast<float>(skin) : 0.f;
        }
    }
}

void LensRimFinder::followDarkPaths() {
    const int rows = m_contrast.rows, cols = m_contrast.cols;
    m_score.create(rows, cols, CV_32F);
    m_from.create(rows, cols, CV_32S);
    for (int row = 0; row < rows; ++row)
        m_score.at<float>(row, 0) = std::min(m_contrast.at<float>(row, 0), kCurveCap);
    for (int col = 1; col < cols; ++col) {
        for (int row = 0; row < rows; ++row) {
            int from = row;
            for (int before = std::max(0, row - 1); before <= std::min(rows - 1, row + 1); ++before)
                if (m_score.at<float>(before, col - 1) > m_score.at<float>(from, col - 1))
                    from = before;
            m_from.at<int>(row, col) = from;
            m_score.at<float>(row, col) = m_score.at<float>(from, col - 1) +
                                          std::min(m_contrast.at<float>(row, col), kCurveCap);
        }
    }
}

int LensRimFinder::curvedRimRow(int reach, std::optional<float> pairedRow, float tolerance) {
    measureContrast(reach);
    followDarkPaths();
    const int cols = m_contrast.cols;
    const float coverage = pairedRow ? kPairedCoverage : kCurveCoverage;
    // As for straight bands, the deepest path that qualifies is the rim.
    for (int end = m_contrast.rows - 1; end >= 0; --end) {
        int run = 0, longest = 0, runLowest = 0, lowest = 0;
        for (int col = cols - 1, row = end;; row = m_from.at<int>(row, col--)) {
            const bool dark = m_contrast.at<float>(row, col) > kRimContrast;
            run = dark ? run + 1 : 0;
            runLowest = run == 1 ? row : std::max(runLowest, row);
            if (run > longest) {
                longest = run;
                lowest = runLowest;
            }
            if (col == 0) break;
        }
        // The lowest point of the run: the lens is clear above it.
        if (longest >= coverage * cols &&
            (!pairedRow || std::abs(lowest - *pairedRow) <= tolerance))
            return lowest;
    }
    return -1;
}

}  // namespace facelume
