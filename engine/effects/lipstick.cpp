#include "lipstick.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "face_geometry.h"

namespace facelume {

namespace {

constexpr float kOpacity = 0.85f;      // at full strength; a little of the lips shows through
constexpr float kLumaPull = 0.45f;     // toward the colour's brightness; keeps the highlights
constexpr float kFeather = 0.018f;     // edge softness in eye distances
constexpr float kLeastFeather = 0.7f;  // pixels

}  // namespace

Lipstick::Lipstick(std::string resourceFolder)
    : FaceMakeup(std::move(resourceFolder), "lipstick", "lipstick") {}

void Lipstick::paintFace(cv::Mat& frame, const FaceGeometry& face) {
    // Landmarks that lag far behind the head's turn put the mouth where it is not: on the cheek
    // behind the mouth of a head in profile, on the chin.
    const float trusted = face.fitTrust();
    if (!(trusted > 0.f)) return;
    const cv::Point2f lift = m_lipFinder.shift(frame, face);
    m_outer.clear();
    m_inner.clear();
    for (int i = 48; i <= 59; ++i) m_outer.push_back(face.point(i) + lift);
    for (int i = 60; i <= 67; ++i) m_inner.push_back(face.point(i) + lift);
    const double sigma = std::max(kLeastFeather, kFeather * face.scale());
    const int margin = static_cast<int>(std::ceil(3 * sigma)) + 2;
    cv::Rect area = cv::boundingRect(m_outer);
    area -= cv::Point(margin, margin);
    area += cv::Size(2 * margin, 2 * margin);
    if (!m_brush.begin(frame.size(), area)) return;
    m_brush.fillPolygon(m_outer, 255);
    m_brush.fillPolygon(m_inner, 0);
    m_brush.feather(sigma);
    // Small faces feather by more pixels than their lips are thick: clipped, the colour stays
    // on the lips instead of spilling onto the skin below the mouth corners.
    m_brush.clipToPolygon(m_outer);
    m_brush.paint(frame, m_settings.color(),
                  kOpacity * m_settings.strength() * face.presence() * trusted, kLumaPull);
}

}  // namespace facelume
