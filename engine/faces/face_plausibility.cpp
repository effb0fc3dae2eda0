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

// Labels of the regions whose grey levels are compared.
constexpr uchar kEye = 1, kCheek = 2;

FaceFrame faceFrame(const Landmarks& l) {
    const cv::Point2f rightEye = mean(l, 36, 41), leftEye = mean(l, 42, 47);
    FaceFrame f;
    f.origin = 0.5f * (rightEye + leftEye);
    const cv::Point2f across = leftEye - rightEye;
    f.unit = float(std::hypot(across.x, across.y));
    if (f.unit <= 0.f) return f;
    f.xAxis = across * (1.f / f.unit);
    f.yAxis = cv::Point2f(-f.xAxis.y, f.xAxis.x);
    return f;
}

}  // namespace

float FacePlausibility::noseDepth(const Landmarks& l) {
    const FaceFrame f = faceFrame(l);
    return f.unit > 0.f ? f.map(l[30]).y : 0.f;
}

bool FacePlausibility::shapeIsPlausible(const Landmarks& l) {
    const FaceFrame f = faceFrame(l);
    if (f.unit < 6.f) return false;

    const cv::Point2f nose = f.map(l[30]), mouth = f.map(mean(l, 48, 59)), chin = f.map(l[8]);
    const cv::Point2f brows = f.map(mean(l, 17, 26));
    const cv::Point2f jawRight = f.map(l[1]), jawLeft = f.map(l[15]);
    if (!inRange(nose.y, 0.3f, 1.4f) || std::abs(nose.x) > 0.6f) return false;
    if (!inRange(mouth.y, nose.y + 0.1f, 2.0f) || std::abs(mouth.x) > 0.7f) return false;
    if (!inRange(chin.y, mouth.y + 0.1f, 3.0f)) return false;
    if (!inRange(brows.y, -1.0f, -0.05f)) return false;
    const float width = jawLeft.x - jawRight.x;
    if (!inRange(width, 1.3f, 3.2f)) return false;
    // A head turned by 60 degrees still shows a sixth of its far cheek; a nose on or beyond the
    // jaw line is no face.
    const float rightCheek = nose.x - jawRight.x, leftCheek = jawLeft.x - nose.x;
    if (rightCheek <= 0.f || leftCheek <= 0.f) return false;
    const float ratio = rightCheek / leftCheek;
    return inRange(ratio, 1.f / 6.f, 6.f);
}

bool FacePlausibility::isPlausible(const Landmarks& landmarks, const cv::Mat& grey,
                                   double maxEyeContrast) {
    return shapeIsPlausible(landmarks) && eyeContrast(landmarks, grey) < maxEyeContrast;
}

double FacePlausibility::eyeContrast(const Landmarks& l, const cv::Mat& grey) {
    double eyes = 0, cheeks = 0;
    return measure(l, grey, eyes, cheeks) && cheeks > 0 ? eyes / cheeks : 1.0;
}

double FacePlausibility::cheekGrey(const Landmarks& l, const cv::Mat& grey) {
    double eyes = 0, cheeks = 0;
    return measure(l, grey, eyes, cheeks) ? cheeks : 0.0;
}

bool FacePlausibility::measure(const Landmarks& l, const cv::Mat& grey, double& eyes,
                               double& cheeks) {
    float left = l[0].x, right = left, top = l[0].y, bottom = top;
    for (const cv::Point2f& p : l) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    const cv::Rect bounds = cv::Rect(cv::Point(cvFloor(left), cvFloor(top)),
                                     cv::Point(cvCeil(right) + 1, cvCeil(bottom) + 1)) &
                            cv::Rect(0, 0, grey.cols, grey.rows);
    if (bounds.area() < 16) return false;
    m_labels = workArea(m_labelBuffer, bounds.size(), CV_8UC1);
    m_labels.setTo(0);
    const cv::Point offset = -bounds.tl();
    fill(l, {36, 37, 38, 39, 40, 41}, kEye, offset);
    fill(l, {42, 43, 44, 45, 46, 47}, kEye, offset);
    // Below each eye, between the jaw line and the nose.
    fill(l, {1, 2, 3, 31, 39}, kCheek, offset);
    fill(l, {15, 14, 13, 35, 42}, kCheek, offset);
    double sum[3] = {0, 0, 0};
    int count[3] = {0, 0, 0};
    for (int y = 0; y < m_labels.rows; ++y) {
        const uchar* label = m_labels.ptr<uchar>(y);
        const uchar* g = grey.ptr<uchar>(bounds.y + y) + bounds.x;
        for (int x = 0; x < m_labels.cols; ++x) {
            sum[label[x]] += g[x];
            ++count[label[x]];
        }
    }
    if (count[kEye] == 0 || count[kCheek] == 0) return false;
    eyes = sum[kEye] / count[kEye];
    cheeks = sum[kCheek] / count[kCheek];
    return true;
}

void FacePlausibility::fill(const Landmarks& l, std::initializer_list<int> points, uchar label,
                            cv::Point offset) {
    m_polygon.clear();
    for (int i : points) {
        m_polygon.emplace_back(cvRound(l[size_t(i)].x) + offset.x,
                               cvRound(l[size_t(i)].y) + offset.y);
    }
    cv::fillConvexPoly(m_labels, m_polygon, cv::Scalar(label));
}

}  // namespace facelume
