#include "blush.h"

#include <cmath>
#include <opencv2/imgproc.hpp>

#include "face_geometry.h"

namespace facelume {

namespace {

constexpr float kOpacity = 0.45f;
constexpr float kLumaPull = 0.1f;
constexpr float kTiltDegrees = 20.f;  // the patch rises toward the temple
constexpr float kPi = 3.14159265f;

struct Cheek {
    int jawUpper, jawLower, noseWing, eyeLower1, eyeLower2;
    float tilt;  // +1 on the left of the picture, -1 on the right
};

// The person's right cheek (left in the picture), then the left one.
constexpr Cheek kCheeks[2] = {{1, 2, 31, 40, 41, 1.f}, {15, 14, 35, 46, 47, -1.f}};

}  // namespace

Blush::Blush(std::string resourceFolder)
    : FaceMakeup(std::move(resourceFolder), "cheek", "blush") {}

void Blush::paintFace(cv::Mat& frame, const FaceGeometry& face) {
    const float rollDegrees = std::atan2(face.across().y, face.across().x) * 180.f / kPi;
    for (const Cheek& cheek : kCheeks) {
        const cv::Point2f jaw = face.mean({cheek.jawUpper, cheek.jawLower});
        const cv::Point2f nose = face.point(cheek.noseWing);
        const cv::Point2f eye = face.mean({cheek.eyeLower1, cheek.eyeLower2});
        // The apple of the cheek: between jaw line and nose wing, below the eye. Its width
        // follows the jaw-to-nose distance, so the far cheek of a turned head narrows.
        const cv::Point2f centre = 0.45f * jaw + 0.35f * nose + 0.2f * eye;
        const float width = static_cast<float>(cv::norm(jaw - nose));
        const cv::Size2f halfAxes(0.3f * width, 0.22f * face.scale());
        const double sigma = std::max(1.f, 0.45f * std::min(halfAxes.width, halfAxes.height));
        const int reach = static_cast<int>(std::ceil(halfAxes.width + 3 * sigma)) + 2;
        const cv::Rect area(
            cv::Point(static_cast<int>(centre.x) - reach, static_cast<int>(centre.y) - reach),
            cv::Size(2 * reach, 2 * reach));
        if (!m_brush.begin(frame.size(), area)) continue;
        m_brush.fillEllipse(centre, halfAxes, rollDegrees + cheek.tilt * kTiltDegrees, 255);
        m_brush.feather(sigma);
        m_brush.paintPerceived(frame, m_settings.color(),
                               kOpacity * m_settings.strength() * face.presence(), kLumaPull);
    }
}

}  // namespace facelume
