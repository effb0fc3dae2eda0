#include "lip_finder.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "face_geometry.h"
#include "work_area.h"

namespace facelume {

namespace {

// Moves measured in eye distances. The fit keeps its mouth line within kNear of a dark line it
// found; the real line lies between kNearestAbove and kFarthestAbove higher (0.12 to 0.3 on the
// bowed heads measured, with the nostrils' shadow 0.34 above the fitted line). Lines a few pixels
// thick need the fine step: on whole steps of 0.02 a line's depth varies with where the steps
// fall on it by about as much as the two lines differ on a flash-lit picture.
constexpr float kStep = 0.01f;
constexpr float kNear = 0.06f;
constexpr float kNearestAbove = 0.12f;
constexpr float kFarthestAbove = 0.34f;
// A dark line is measured against the skin this far above and below it.
constexpr float kReach = 0.07f;
// How much deeper, as a fraction of the brightness around it, the line higher up must be: 0.02 to
// 0.12 on lips laid too low; 0.07 and more shallower where lips are in place and the lower one is
// not the lighter.
constexpr float kDeeper = 0.02f;
constexpr int kSamplesPerSegment = 8;
constexpr std::array<int, 12> kUpperLip = {48, 49, 50, 51, 52, 53, 54, 64, 63, 62, 61, 60};
constexpr std::array<int, 12> kLowerLip = {48, 60, 67, 66, 65, 64, 54, 55, 56, 57, 58, 59};
// The line between the lips runs out to the mouth's corners; the nose's own shadow ends at its
// sides. Beyond the nose's sides the line taken, or one up to kSideRise higher (a smile lifts the
// corners more than the fit's mouth line does), must be at least this deep: 0.15 to 0.46 on lips
// laid too low, 0.02 and shallower where a smiling mouth's fit is right and the line found above
// it is the nose's lower edge.
constexpr float kDeepBeyondNose = 0.08f;
constexpr float kSideRise = 0.04f;
// A lower lip lit from above has the lightest highlights of the two lips, even where the fit's
// upper lip takes in the dark fold below it and its mean is the lower: the lightest tenth decides
// then. Tone curves (sepia, a flash, darker skin) keep which highlight is the lighter.
constexpr double kHighlight = 0.9;
// Below this eye distance in pixels lips and the line between them are a pixel or two thick, and
// both signs read compression blocks and noise: such faces keep their fit.
constexpr float kSmallestFace = 40.f;

// The grey value that the given fraction of the pixels inside mask lie below.
int valueAt(const cv::Mat& grey, const cv::Mat& mask, double fraction) {
    std::array<int, 256> histogram{};
    int pixels = 0;
    for (int y = 0; y < grey.rows; ++y) {
        const uchar* value = grey.ptr<uchar>(y);
        const uchar* inside = mask.ptr<uchar>(y);
        for (int x = 0; x < grey.cols; ++x) {
            if (inside[x]) ++histogram[value[x]], ++pixels;
        }
    }
    const int below = static_cast<int>(fraction * pixels);
    for (int value = 0, counted = 0; value < 256; ++value) {
        counted += histogram[value];
        if (counted > below) return value;
    }
    return 255;
}

}  // namespace

cv::Point2f LipFinder::shift(const cv::Mat& frame, const FaceGeometry& face) {
    const float distance = face.scale();
    if (distance < kSmallestFace) return {};
    m_points.clear();
    for (int i = 48; i <= 59; ++i) m_points.push_back(face.point(i));
    const int margin =
        static_cast<int>(std::ceil((kFarthestAbove + kStep + kReach) * distance)) + 3;
    // First the lips alone: most faces end there, at little cost.
    m_area = cv::boundingRect(m_points);
    const cv::Rect searched(m_area.tl() - cv::Point(margin, margin),
                            m_area.size() + cv::Size(2 * margin, 2 * margin));
    // Lips at the frame's edge are left as fitted: half their surroundings are not there.
    if ((searched & cv::Rect(0, 0, frame.cols, frame.rows)) != searched) return {};
    takeGrey(frame);
    const Brightness lower = brightnessInside(face, kLowerLip);
    const Brightness upper = brightnessInside(face, kUpperLip);
    if (lower.mean >= upper.mean && lower.highlight >= upper.highlight) return {};
    m_area = searched;
    takeGrey(frame);
    m_smooth = workArea(m_smoothBuffer, m_area.size(), CV_32FC1);
    m_grey.convertTo(m_smooth, CV_32F);
    // Isolated: what lies beyond the view in the buffer is from an earlier face.
    cv::GaussianBlur(m_smooth, m_smooth, cv::Size(), std::max(0.6, 0.02 * distance), 0,
                     cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
    const cv::Point2f corner(m_area.tl());
    const cv::Point2f mouthLine[] = {face.point(60), face.mean({61, 67}), face.mean({62, 66}),
                                     face.mean({63, 65}), face.point(64)};
    m_points.clear();
    for (int i = 0; i + 1 < 5; ++i) {
        for (int k = 0; k < kSamplesPerSegment; ++k) {
            const float t = static_cast<float>(k) / kSamplesPerSegment;
            m_points.push_back(mouthLine[i] + t * (mouthLine[i + 1] - mouthLine[i]) - corner);
        }
    }
    m_points.push_back(mouthLine[4] - corner);

    const cv::Point2f step = kStep * distance * face.down();
    const cv::Point2f reach = kReach * distance * face.down();
    const int near = cvRound(kNear / kStep);
    const int first = cvRound(kNearestAbove / kStep), last = cvRound(kFarthestAbove / kStep);
    float nearDepth = -1e9f;
    for (int k = -near; k <= near; ++k) nearDepth = std::max(nearDepth, lineDepth(k * step, reach));
    // The nearest line above that is deeper: the nostrils' shadow, higher up, can be deeper still.
    const int rise = cvRound(kSideRise / kStep);
    float below = lineDepth(-(first - 1) * step, reach);
    float depth = lineDepth(-first * step, reach);
    for (int k = first; k <= last; ++k) {
        const float above = lineDepth(-(k + 1) * step, reach);
        if (depth >= below && depth >= above && depth > nearDepth + kDeeper) {
            // A line that ends at the nose's sides is the nose's lower edge: the fit stays.
            const float side = (face.point(31) - corner).dot(face.across());
            const float otherSide = (face.point(35) - corner).dot(face.across());
            float sideDepth = -1e9f;
            for (int j = k; j <= std::min(k + rise, last); ++j) {
                sideDepth = std::max(
                    sideDepth, lineDepth(-j * step, reach, face.across(), std::min(side, otherSide),
                                         std::max(side, otherSide)));
            }
            if (sideDepth < kDeepBeyondNose) return {};
            return -static_cast<float>(k) * step;
        }
        below = depth;
        depth = above;
    }
    return {};
}

void LipFinder::takeGrey(const cv::Mat& frame) {
    m_grey = workArea(m_greyBuffer, m_area.size(), CV_8UC1);
    cv::cvtColor(frame(m_area), m_grey, cv::COLOR_BGR2GRAY);
}

LipFinder::Brightness LipFinder::brightnessInside(const FaceGeometry& face,
                                                  const std::array<int, 12>& indices) {
    m_polygon.clear();
    for (int i : indices) m_polygon.push_back(cv::Point(face.point(i)) - m_area.tl());
    m_mask = workArea(m_maskBuffer, m_area.size(), CV_8UC1);
    m_mask.setTo(0);
    const cv::Point* corners = m_polygon.data();
    const int count = static_cast<int>(m_polygon.size());
    cv::fillPoly(m_mask, &corners, &count, 1, cv::Scalar(255));
    return {cv::mean(m_grey, m_mask)[0], valueAt(m_grey, m_mask, kHighlight)};
}

float LipFinder::lineDepth(cv::Point2f offset, cv::Point2f reach, cv::Point2f across,
                           float skipFrom, float skipTo) const {
    double depth = 0, level = 0;
    for (const cv::Point2f& point : m_points) {
        const float along = point.dot(across);
        if (along > skipFrom && along < skipTo) continue;
        const cv::Point2f p = point + offset;
        const float above = smoothAt(p - reach), below = smoothAt(p + reach);
        depth += std::min(above, below) - smoothAt(p);
        level += 0.5f * (above + below);
    }
    return static_cast<float>(depth / std::max(1.0, level));
}

float LipFinder::smoothAt(cv::Point2f p) const {
    const float x = std::clamp(p.x, 0.f, m_smooth.cols - 1.001f);
    const float y = std::clamp(p.y, 0.f, m_smooth.rows - 1.001f);
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const float fx = x - x0, fy = y - y0;
    const float* top = m_smooth.ptr<float>(y0) + x0;
    const float* bottom = m_smooth.ptr<float>(y0 + 1) + x0;
    return (1 - fy) * ((1 - fx) * top[0] + fx * top[1]) +
           fy * ((1 - fx) * bottom[0] + fx * bottom[1]);
}

}  // namespace facelume
