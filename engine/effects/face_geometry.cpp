#include "face_geometry.h"

#include <algorithm>
#include <cmath>

namespace facelume {

namespace {

constexpr float kSmallestFace = 4.f;  // eye distance in pixels
constexpr float kFarthest = 1e6f;     // landmarks beyond this are garbage, not a face
// Good fits, three-quarter faces' too, lag by up to about 0.27; bad ones by 0.4 and more.
constexpr float kLagStart = 0.3f;
constexpr float kLagFull = 0.4f;
// A near profile: turned by at least this much (eye distances) as the detector saw it (a
// three-quarter face about 0.3 to 0.5, the cameraman's near profile 0.53 and more), with the
// landmarks' nose tip turned less from the middle of the jaw line by at least the lag below
// (three-quarter faces so turned 0.1 at most, the cameraman's frontal fits 0.36 and more).
constexpr float kProfileTurn = 0.45f;
constexpr float kProfileLag = 0.25f;

}  // namespace

FaceGeometry::FaceGeometry(const Face& face)
    : m_face(face),
      m_across(std::cos(face.roll), std::sin(face.roll)),
      m_down(-std::sin(face.roll), std::cos(face.roll)) {}

bool FaceGeometry::usable() const {
    if (!(m_face.presence > 0.f) || !(m_face.eyeDistance >= kSmallestFace) ||
        !(m_face.eyeDistance < kFarthest) || !std::isfinite(m_face.roll)) {
        return false;
    }
    for (const cv::Point2f& p : m_face.landmarks) {
        if (!(std::abs(p.x) < kFarthest) || !(std::abs(p.y) < kFarthest)) return false;
    }
    return true;
}

float FaceGeometry::turnLag() const {
    if (!std::isfinite(m_face.turn)) return 0.f;
    const float fitted = (point(30) - mean(36, 47)).dot(m_across) / scale();
    return m_face.turn >= 0.f ? m_face.turn - fitted : fitted - m_face.turn;
}

float FaceGeometry::fitTrust() const {
    return std::clamp((kLagFull - turnLag()) / (kLagFull - kLagStart), 0.f, 1.f);
}

bool FaceGeometry::turnKnown() const { return std::isfinite(m_face.turn); }

int FaceGeometry::profileSide() const {
    if (!turnKnown() || std::abs(m_face.turn) < kProfileTurn) return 0;
    const int side = m_face.turn > 0.f ? 1 : -1;
    const float fitted = (point(30) - mean({0, 16})).dot(m_across) / scale();
    return side * (m_face.turn - fitted) >= kProfileLag ? side : 0;
}

cv::Point2f FaceGeometry::mean(int first, int last) const {
    cv::Point2f sum(0.f, 0.f);
    for (int i = first; i <= last; ++i) sum += m_face.landmarks[i];
    return sum / static_cast<float>(last - first + 1);
}

cv::Point2f FaceGeometry::mean(std::initializer_list<int> indices) const {
    cv::Point2f sum(0.f, 0.f);
    for (int i : indices) sum += m_face.landmarks[i];
    return sum / static_cast<float>(indices.size());
}

}  // namespace facelume
