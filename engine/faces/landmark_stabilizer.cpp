#include "landmark_stabilizer.h"

#include <algorithm>
#include <cmath>

namespace facelume {
namespace {

// Cut-off in hertz when still, and its rise per eye distance per second of motion.
constexpr float kMinCutoff = 0.6f;
constexpr float kBeta = 4.0f;
// Cut-off of the speed estimate itself.
constexpr float kSpeedCutoff = 2.0f;
constexpr float kPi = 3.14159265f;

float smoothingFactor(float cutoff, float dt) {
    const float tau = 1.f / (2.f * kPi * cutoff);
    return 1.f / (1.f + tau / dt);
}

cv::Point2f centreOf(const Landmarks& l) {
    cv::Point2f sum(0.f, 0.f);
    for (const cv::Point2f& p : l) sum += p;
    return sum * (1.f / float(l.size()));
}

float eyeDistance(const Landmarks& l) {
    const cv::Point2f d = (l[42] + l[45]) * 0.5f - (l[36] + l[39]) * 0.5f;
    return std::max(1.f, float(std::hypot(d.x, d.y)));
}

}  // namespace

void LandmarkStabilizer::reset(const Landmarks& landmarks) {
    m_filtered = landmarks;
    m_previousCentre = centreOf(landmarks);
    m_speed = 0.f;
    m_started = true;
}

const Landmarks& LandmarkStabilizer::update(const Landmarks& raw, float dt) {
    if (!m_started || dt <= 0.f) {
        reset(raw);
        return m_filtered;
    }
    // Speed of the raw face centre, which averages 68 points and so carries little noise; the
    // gap between the raw and the filtered points counts too, so a sudden jump is caught up fast.
    const cv::Point2f centre = centreOf(raw);
    const cv::Point2f step = centre - m_previousCentre;
    m_previousCentre = centre;
    const cv::Point2f lag = centre - centreOf(m_filtered);
    const float unit = eyeDistance(raw);
    const float rawSpeed =
        (float(std::hypot(step.x, step.y)) / dt + 0.5f * float(std::hypot(lag.x, lag.y)) / dt) /
        unit;
    m_speed += smoothingFactor(kSpeedCutoff, dt) * (rawSpeed - m_speed);
    const float alpha = smoothingFactor(kMinCutoff + kBeta * m_speed, dt);
    for (size_t i = 0; i < raw.size(); ++i) m_filtered[i] += alpha * (raw[i] - m_filtered[i]);
    return m_filtered;
}

}  // namespace facelume
