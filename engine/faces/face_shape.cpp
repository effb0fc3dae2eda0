#include "face_shape.h"

#include <cmath>

namespace facelume {
namespace {

cv::Point scaled(cv::Point2f p, float scale) {
    return cv::Point(cvRound(p.x * scale), cvRound(p.y * scale));
}

}  // namespace

cv::Point2f FaceShape::mean(const Face& face, int first, int last) {
    cv::Point2f sum(0.f, 0.f);
    for (int i = first; i <= last; ++i) sum += face.landmarks[size_t(i)];
    return sum * (1.f / float(last - first + 1));
}

cv::Point2f FaceShape::downAxis(const Face& face) {
    const cv::Point2f across = leftEyeCentre(face) - rightEyeCentre(face);
    const float length = std::max(1e-3f, float(std::hypot(across.x, across.y)));
    return cv::Point2f(-across.y / length, across.x / length);
}

cv::Point2f FaceShape::onCentreLine(const Face& face, cv::Point2f p) {
    const cv::Point2f origin = face.landmarks[27];
    const cv::Point2f axis = downAxis(face);
    return origin + axis * (p - origin).dot(axis);
}

void FaceShape::outline(const Face& face, float scale, std::vector<cv::Point>& polygon) {
    polygon.clear();
    for (int i = 0; i <= 16; ++i) polygon.push_back(scaled(face.landmarks[size_t(i)], scale));
    // The forehead: the brows lifted by about half the eye distance, from the left side back to
    // the right, so the polygon closes over the top of the face.
    const cv::Point2f up = -downAxis(face) * (0.55f * face.eyeDistance);
    for (int i = 26; i >= 17; --i) {
        polygon.push_back(scaled(face.landmarks[size_t(i)] + up, scale));
    }
}

void FaceShape::part(const Face& face, int first, int last, float grow, float scale,
                     std::vector<cv::Point>& polygon) {
    const cv::Point2f centre = mean(face, first, last);
    polygon.clear();
    for (int i = first; i <= last; ++i) {
        polygon.push_back(scaled(centre + (face.landmarks[size_t(i)] - centre) * grow, scale));
    }
}

cv::Rect2f FaceShape::bounds(const Face& face) {
    const cv::Point2f up = -downAxis(face) * (0.55f * face.eyeDistance);
    float left = face.landmarks[0].x, right = left, top = face.landmarks[0].y, bottom = top;
    auto extend = [&](cv::Point2f p) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    };
    for (const cv::Point2f& p : face.landmarks) extend(p);
    for (int i = 17; i <= 26; ++i) extend(face.landmarks[size_t(i)] + up);
    return cv::Rect2f(left, top, right - left, bottom - top);
}

}  // namespace facelume
