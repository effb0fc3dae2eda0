#include "eyebrow_makeup.h"

#include <opencv2/imgproc.hpp>

#include "face_geometry.h"

namespace facelume {

namespace {

constexpr float kOpacity = 0.85f;
constexpr float kLumaPull = 0.55f;  // darkens the skin between the hairs toward the colour
constexpr float kFeather = 0.025f;  // eye distances
// Half thickness of the band above and below the landmarks, in eye distances, at the brow's
// outer end and at its inner end (brows are fuller toward the nose).
constexpr float kAboveOuter = 0.03f, kAboveInner = 0.06f;
constexpr float kBelowOuter = 0.04f, kBelowInner = 0.08f;

}  // namespace

EyebrowMakeup::EyebrowMakeup(std::string resourceFolder)
    : FaceMakeup(std::move(resourceFolder), "eyebrow", "eyebrow make-up") {}

void EyebrowMakeup::paintFace(cv::Mat& frame, const FaceGeometry& face) {
    // Landmarks that lag far behind the head's turn lay the near brow over the ear and the hair.
    const float trusted = face.fitTrust();
    if (!(trusted > 0.f)) return;
    // Person's right brow runs 17 (outer) to 21 (inner), the left one 26 (outer) to 22 (inner).
    for (const auto& [outer, step] : {std::pair{17, 1}, std::pair{26, -1}}) {
        m_polygon.clear();
        const cv::Point2f up = -face.down() * face.scale();
        for (int k = 0; k < 5; ++k) {
            const float t = k / 4.f;
            m_polygon.push_back(face.point(outer + step * k) +
                                up * (kAboveOuter + t * (kAboveInner - kAboveOuter)));
        }
        for (int k = 4; k >= 0; --k) {
            const float t = k / 4.f;
            m_polygon.push_back(face.point(outer + step * k) -
                                up * (kBelowOuter + t * (kBelowInner - kBelowOuter)));
        }
        const double sigma = std::max(0.7f, kFeather * face.scale());
        const int margin = static_cast<int>(std::ceil(3 * sigma)) + 2;
        cv::Rect area = cv::boundingRect(m_polygon);
        area -= cv::Point(margin, margin);
        area += cv::Size(2 * margin, 2 * margin);
        if (!m_brush.begin(frame.size(), area)) continue;
        m_brush.fillPolygon(m_polygon, 255);
        m_brush.feather(sigma);
        m_brush.paint(frame, m_settings.color(),
                      kOpacity * m_settings.strength() * face.presence() * trusted, kLumaPull);
    }
}

}  // namespace facelume
