#include "blush.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "face_geometry.h"

namespace facelume {

namespace {

constexpr float kOpacity = 0.45f;
constexpr float kLumaPull = 0.1f;
constexpr float kTiltDegrees = 20.f;  // the patch rises toward the temple
constexpr float kPi = 3.14159265f;
// Under glasses the patch moves down toward the rim, by at most this much of the eye distance:
// further down it would leave the apple of the cheek.
constexpr float kMaxLowering = 0.2f;
// Below the rim the paint fades in over about this much of the eye distance: cut off straight,
// it leaves a hard line across the cheek where the rim curves up.
constexpr float kRimFade = 0.03f;
// How far the head is turned, as the nose tip's offset between the two jaw lines (0 frontal, 1
// the nose on a jaw line): a frontal face measures up to about 0.05; the far cheek starts to
// fade at kTurnStart and is gone at kTurnFull, where little of it shows.
constexpr float kTurnStart = 0.08f;
constexpr float kTurnFull = 0.25f;

struct Cheek {
    int jawUpper, jawLower, noseWing, eyeLower1, eyeLower2;
    float tilt;  // +1 on the left of the picture, -1 on the right
    float side;  // the sign of the turn that shows this cheek more
};

// The person's right cheek (left in the picture), then the left one.
constexpr Cheek kCheeks[2] = {{1, 2, 31, 40, 41, 1.f, 1.f}, {15, 14, 35, 46, 47, -1.f, -1.f}};

float smoothstep(float from, float to, float x) {
    const float t = std::clamp((x - from) / (to - from), 0.f, 1.f);
    return t * t * (3.f - 2.f * t);
}

// Positive when the head is turned to the person's left (the right cheek shows more).
float turnOf(const FaceGeometry& face) {
    const float nose = face.point(30).dot(face.across());
    const float right = nose - face.mean({1, 2}).dot(face.across());
    const float left = face.mean({14, 15}).dot(face.across()) - nose;
    return right + left > 0.f ? (right - left) / (right + left) : 0.f;
}

}  // namespace

Blush::Blush(std::string resourceFolder)
    : FaceMakeup(std::move(resourceFolder), "cheek", "blush") {}

cv::Point2f Blush::lowering(cv::Point2f fromEye, float rim, float halfHeight,
                            const FaceGeometry& face) {
    const float top = fromEye.dot(face.down()) - halfHeight;
    return std::clamp(rim - top, 0.f, kMaxLowering * face.scale()) * face.down();
}

void Blush::keepBelow(cv::Point2f line, const FaceGeometry& face) {
    const float fade = kRimFade * face.scale();
    clipAbove(line + 2.f * fade * face.down(), face);
    m_brush.feather(std::max(1.f, fade));
    clipAbove(line, face);
}

void Blush::clipAbove(cv::Point2f line, const FaceGeometry& face) {
    const cv::Point2f across = 2.f * face.scale() * face.across();
    const cv::Point2f down = 3.f * face.scale() * face.down();
    m_brush.clipToPolygon(
        {line - across, line + across, line + across + down, line - across + down});
}

void Blush::paintFace(cv::Mat& frame, const FaceGeometry& face) {
    const float rollDegrees = std::atan2(face.across().y, face.across().x) * 180.f / kPi;
    // A near profile's landmarks can turn the wrong way (one eye on the visible one, the other on
    // the ear): which cheek shows, the detector's turn tells.
    const int profile = face.profileSide();
    const float turn = profile != 0 ? profile * std::abs(turnOf(face)) : turnOf(face);
    const float turned = smoothstep(kTurnStart, kTurnFull, std::abs(turn));
    const std::array<cv::Point2f, 2> eyes = {
        face.mean({kCheeks[0].eyeLower1, kCheeks[0].eyeLower2}),
        face.mean({kCheeks[1].eyeLower1, kCheeks[1].eyeLower2})};
    const std::array<std::optional<float>, 2> rims = m_lensRims.rimsBelow(frame, eyes, face);
    for (int side = 0; side < 2; ++side) {
        const Cheek& cheek = kCheeks[side];
        const bool far = turn * cheek.side < 0.f;
        // The far cheek of a turned head hides behind the nose; landmarks that lag behind the
        // turn put it on the nose.
        const float fade = far ? (1.f - turned) * face.fitTrust() : 1.f;
        if (!(fade > 0.f)) continue;
        const cv::Point2f jaw = face.mean({cheek.jawUpper, cheek.jawLower});
        const cv::Point2f nose = face.point(cheek.noseWing);
        const cv::Point2f eye = eyes[side];
        // The apple of the cheek: between jaw line and nose wing, below the eye. Its width
        // follows the jaw-to-nose distance, so the far cheek of a turned head narrows. Where the
        // landmarks lag behind the turn (or it is unknown), the near cheek's jaw line runs by the
        // ear: the apple is nearer the nose. A fit that follows the turn puts the jaw line at the
        // cheek's edge; moved, the patch would sit on the nose wing.
        const float lagging = face.turnKnown() ? 1.f - face.fitTrust() : 1.f;
        const float toNose = far ? 0.f : 0.35f * turned * lagging;
        cv::Point2f centre = (0.45f - toNose) * jaw + (0.35f + toNose) * nose + 0.2f * eye;
        const float width = static_cast<float>(cv::norm(jaw - nose)) * (1.f - 0.3f * turned);
        const cv::Size2f halfAxes(0.3f * width, 0.22f * face.scale());
        const std::optional<float>& rim = rims[side];
        if (rim) centre += lowering(centre - eye, *rim, halfAxes.height, face);
        const double sigma = std::max(1.f, 0.45f * std::min(halfAxes.width, halfAxes.height));
        const int reach = static_cast<int>(std::ceil(halfAxes.width + 3 * sigma)) + 2;
        const cv::Rect area(
            cv::Point(static_cast<int>(centre.x) - reach, static_cast<int>(centre.y) - reach),
            cv::Size(2 * reach, 2 * reach));
        if (!m_brush.begin(frame.size(), area)) continue;
        m_brush.fillEllipse(centre, halfAxes, rollDegrees + cheek.tilt * kTiltDegrees, 255);
        m_brush.feather(sigma);
        if (rim) keepBelow(eye + *rim * face.down(), face);
        m_brush.paintPerceived(frame, m_settings.color(),
                               kOpacity * m_settings.strength() * face.presence() * fade,
                               kLumaPull);
    }
}

}  // namespace facelume
