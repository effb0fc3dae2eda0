#include "face_plausibility.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "work_area.h"

namespace facelume {
namespace {

cv::Point2f mean(const Landmarks& l, int first, int last) {
    cv::Point2f sum(0.f, 0.f);
    for (int i = first; i <= last; ++i) sum += l[size_t(i)];
    return sum * (1.f / float(last - first + 1));
}

// Coordinates in the face's own frame: origin between the eyes, x along the eye line, unit the
// eye distance, y pointing down the face.
struct FaceFrame {
    cv::Point2f origin, xAxis, yAxis;
    float unit = 0.f;
    cv::Point2f map(cv::Point2f p) const {
        const cv::Point2f d = p - origin;
        return cv::Point2f(d.dot(xAxis) / unit, d.dot(yAxis) / unit);
    }
};

bool inRange(float v, float lo, float hi) { return v >= lo && v <= hi; }

// Chroma bounds of human skin in YCrCb over a wide range of tones and lights.
bool skinChroma(const cv::Vec3b& ycrcb) {
    return ycrcb[0] > 40 && inRange(ycrcb[1], 135, 180) && inRange(ycrcb[2], 80, 130);
}

}  // namespace

bool FacePlausibility::shapeIsPlausible(const Landmarks& l) {
    const cv::Point2f rightEye = mean(l, 36, 41), leftEye = mean(l, 42, 47);
    FaceFrame f;
    f.origin = 0.5f * (rightEye + leftEye);
    const cv::Point2f across = leftEye - rightEye;
    f.unit = float(std::hypot(across.x, across.y));
    if (f.unit < 6.f) return false;
    f.xAxis = across * (1.f / f.unit);
    f.yAxis = cv::Point2f(-f.xAxis.y, f.xAxis.x);

    const cv::Point2f nose = f.map(l[30]), mouth = f.map(mean(l, 48, 59)), chin = f.map(l[8]);
    const cv::Point2f brows = f.map(mean(l, 17, 26));
    const cv::Point2f jawRight = f.map(l[1]), jawLeft = f.map(l[15]);
    if (!inRange(nose.y, 0.3f, 1.4f) || std::abs(nose.x) > 0.6f) return false;
    if (!inRange(mouth.y, nose.y + 0.1f, 2.0f) || std::abs(mouth.x) > 0.7f) return false;
    if (!inRange(chin.y, mouth.y + 0.1f, 3.0f)) return false;
    if (!inRange(brows.y, -1.0f, -0.05f)) return false;
    const float width = jawLeft.x - jawRight.x;
    if (!inRange(width, 1.3f, 3.2f)) return false;
    // A turned head narrows one cheek; a badge or a pattern gives a nose near one edge.
    const float rightCheek = nose.x - jawRight.x, leftCheek = jawLeft.x - nose.x;
    if (rightCheek <= 0.f || leftCheek <= 0.f) return false;
    const float ratio = rightCheek / leftCheek;
    return inRange(ratio, 1.f / 3.f, 3.f);
}

bool FacePlausibility::isPlausible(const Landmarks& landmarks, const cv::Mat& bgr) {
    return shapeIsPlausible(landmarks) && skinFraction(landmarks, bgr) >= 0.35;
}

double FacePlausibility::skinFraction(const Landmarks& l, const cv::Mat& bgr) {
    // Cheeks and nose: below the eyes, above the mouth, inside the jaw line.
    m_polygon.clear();
    for (int i : {1, 2, 3, 4, 5, 48, 50, 52, 54, 11, 12, 13, 14, 15, 45, 42, 39, 36}) {
        m_polygon.emplace_back(cv::Point(cvRound(l[size_t(i)].x), cvRound(l[size_t(i)].y)));
    }
    const cv::Rect bounds = cv::boundingRect(m_polygon) & cv::Rect(0, 0, bgr.cols, bgr.rows);
    if (bounds.area() < 16) return 0.0;
    m_ycrcb = workArea(m_ycrcbBuffer, bounds.size(), CV_8UC3);
    m_mask = workArea(m_maskBuffer, bounds.size(), CV_8UC1);
    cv::cvtColor(bgr(bounds), m_ycrcb, cv::COLOR_BGR2YCrCb);
    m_mask.setTo(0);
    for (cv::Point& p : m_polygon) p -= bounds.tl();
    const cv::Point* points = m_polygon.data();
    const int count = int(m_polygon.size());
    cv::fillPoly(m_mask, &points, &count, 1, cv::Scalar(255));
    int inside = 0, skin = 0;
    for (int y = 0; y < m_mask.rows; ++y) {
        const uchar* m = m_mask.ptr<uchar>(y);
        const cv::Vec3b* c = m_ycrcb.ptr<cv::Vec3b>(y);
        for (int x = 0; x < m_mask.cols; ++x) {
            if (!m[x]) continue;
            ++inside;
            skin += skinChroma(c[x]) ? 1 : 0;
        }
    }
    return inside ? double(skin) / inside : 0.0;
}

}  // namespace facelume
