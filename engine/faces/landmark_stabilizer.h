#pragma once

// Temporal stabilisation of one face's landmarks: a One Euro filter (a low-pass filter whose
// cut-off rises with speed) on every point, driven by the speed of the whole face so that a
// still face gets still points and a moving face is followed without visible lag. Speeds are
// measured in eye distances per second, so the behaviour does not depend on the face's size.
// One thread.

#include "landmark_fitter.h"

namespace facelume {

class LandmarkStabilizer {
public:
    // Starts again from these landmarks, unfiltered.
    void reset(const Landmarks& landmarks);
    // Adds one frame's raw fit, dt seconds after the previous one; returns the filtered points.
    const Landmarks& update(const Landmarks& raw, float dt);
    const Landmarks& current() const { return m_filtered; }

private:
    Landmarks m_filtered{};
    cv::Point2f m_previousCentre;
    float m_speed = 0.f;
    bool m_started = false;
};

}  // namespace facelume
