#include "face_tracker.h"

#include <algorithm>
#include <cmath>

namespace facelume {
namespace {

// Frames arrive at about this rate; the stabiliser only needs the order of magnitude.
constexpr float kFrameSeconds = 1.f / 30.f;
// A tracked face must keep this much skin colour; new faces need more (FacePlausibility).
constexpr double kTrackedSkinFraction = 0.2;
// Scans around a lost face are scaled so that the face is about this many pixels.
constexpr float kRegionFaceSize = 100.f;
// Detector score that keeps a tracked face (new faces need 0).
constexpr double kKeepThreshold = -0.4;
// How many implausible boxes are remembered, and for how many frames.
constexpr size_t kMaxRejected = 8;
constexpr int kRejectedFrames = 60;

float overlap(const cv::Rect2f& a, const cv::Rect2f& b) {
    const float inter = (a & b).area();
    const float smaller = std::min(a.area(), b.area());
    return smaller > 0.f ? inter / smaller : 0.f;
}

cv::Point2f eyeCentre(const Landmarks& l, size_t first) {
    cv::Point2f sum(0.f, 0.f);
    for (size_t i = first; i < first + 6; ++i) sum += l[i];
    return sum * (1.f / 6.f);
}

}  // namespace

FaceTracker::FaceTracker(const LandmarkFitter& fitter, DetectionWorker::Mode mode)
    : m_fitter(fitter), m_worker(mode) {
    m_tracks.reserve(kMaxFaces + 1);
    m_faces.reserve(kMaxFaces + 1);
    m_detections.reserve(16);
    m_rejected.reserve(kMaxRejected);
}

void FaceTracker::reset() {
    m_tracks.clear();
    m_faces.clear();
    m_rejected.clear();
    m_framesSinceScan = kDetectionInterval;
    // A scan of the old stream may still be running; its boxes are dropped when they arrive.
    std::vector<Detection> stale;
    m_worker.takeResults(stale);
}

void FaceTracker::update(const cv::Mat& bgr, const cv::Mat& grey) {
    if (bgr.size() != m_frameSize) {
        reset();
        m_frameSize = bgr.size();
    }
    for (Track& track : m_tracks) {
        if (!track.lost) track.lost = !refit(track, bgr, grey);
    }
    scanForNewFaces(bgr, grey);
    dropDuplicates();
    fadeAndPublish();
}

bool FaceTracker::refit(Track& track, const cv::Mat& bgr, const cv::Mat& grey) {
    const cv::Rect2f box = LandmarkFitter::boxFromLandmarks(track.raw);
    if (track.unconfirmed == 0 && fitAround(track, box, bgr, grey)) return true;
    // Lost its hold (a fast move, a turn), or not seen by the detector for a while: look for
    // the face near where it was.
    return findAround(track, box, bgr, grey);
}

bool FaceTracker::findAround(Track& track, const cv::Rect2f& box, const cv::Mat& bgr,
                             const cv::Mat& grey) {
    const cv::Rect region(
        cv::Point(cvFloor(box.x - 0.6f * box.width), cvFloor(box.y - 0.6f * box.height)),
        cv::Size(cvCeil(2.2f * box.width), cvCeil(2.2f * box.height)));
    const double scale = std::min(1.0, double(kRegionFaceSize / std::max(box.width, 1.f)));
    m_detections.clear();
    // The face passed the plausibility test when it was found: a weaker detection suffices to
    // keep it (a turned or tilted head scores lower).
    m_regionDetector.detectIn(grey, region, scale, m_detections, kKeepThreshold);
    for (const Detection& d : m_detections) {
        if (fitAround(track, d.box, bgr, grey)) {
            track.unconfirmed = 0;
            return true;
        }
    }
    return false;
}

bool FaceTracker::fitAround(Track& track, const cv::Rect2f& box, const cv::Mat& bgr,
                            const cv::Mat& grey) {
    const cv::Rect2f frame(0.f, 0.f, float(grey.cols), float(grey.rows));
    // Mostly outside the frame, or too small to carry landmarks.
    if (box.width < 12.f || (box & frame).area() < 0.5f * box.area()) return false;
    const Landmarks fitted = m_fitter.fit(grey, box);
    if (!FacePlausibility::shapeIsPlausible(fitted)) return false;
    if (m_plausibility.skinFraction(fitted, bgr) < kTrackedSkinFraction) return false;
    track.raw = fitted;
    track.stabilizer.update(fitted, kFrameSeconds);
    return true;
}

void FaceTracker::scanForNewFaces(const cv::Mat& bgr, const cv::Mat& grey) {
    ++m_framesSinceScan;
    if (m_framesSinceScan >= kDetectionInterval && m_worker.idle()) {
        m_worker.submit(grey);
        m_framesSinceScan = 0;
    }
    ageRejected();
    m_detections.clear();
    if (!m_worker.takeResults(m_detections)) return;
    // Every face this scan does not confirm is checked with a region scan in the next frame.
    for (Track& track : m_tracks) ++track.unconfirmed;
    for (const Detection& d : m_detections) {
        if (covered(d.box)) {
            confirm(d);
        } else if (!rejectedBefore(d.box)) {
            addFace(d, bgr, grey);
        }
    }
}

bool FaceTracker::rejectedBefore(const cv::Rect2f& box) const {
    for (const Rejected& r : m_rejected) {
        if (overlap(box, r.box) > 0.7f && std::abs(box.width - r.box.width) < 0.2f * box.width) {
            return true;
        }
    }
    return false;
}

void FaceTracker::ageRejected() {
    for (Rejected& r : m_rejected) --r.framesLeft;
    m_rejected.erase(std::remove_if(m_rejected.begin(), m_rejected.end(),
                                    [](const Rejected& r) { return r.framesLeft <= 0; }),
                     m_rejected.end());
}

void FaceTracker::confirm(const Detection& detection) {
    for (Track& track : m_tracks) {
        if (!track.lost &&
            overlap(detection.box, LandmarkFitter::boxFromLandmarks(track.raw)) > 0.3f) {
            track.unconfirmed = 0;
        }
    }
}

bool FaceTracker::covered(const cv::Rect2f& box) const {
    for (const Track& track : m_tracks) {
        if (track.lost) continue;
        if (overlap(box, LandmarkFitter::boxFromLandmarks(track.raw)) > 0.3f) return true;
    }
    return false;
}

void FaceTracker::addFace(const Detection& detection, const cv::Mat& bgr, const cv::Mat& grey) {
    const Landmarks fitted = m_fitter.fit(grey, detection.box);
    if (!m_plausibility.isPlausible(fitted, bgr)) {
        if (m_rejected.size() < kMaxRejected)
            m_rejected.push_back({detection.box, kRejectedFrames});
        return;
    }
    const cv::Rect2f box = LandmarkFitter::boxFromLandmarks(fitted);
    // A face that is fading out where this one is found comes back instead of a new one, so its
    // presence rises from where it is.
    for (Track& track : m_tracks) {
        if (track.lost && overlap(box, LandmarkFitter::boxFromLandmarks(track.raw)) > 0.3f) {
            track.raw = fitted;
            track.stabilizer.reset(fitted);
            track.lost = false;
            return;
        }
    }
    if (int(m_tracks.size()) >= kMaxFaces) return;
    Track track;
    track.raw = fitted;
    track.stabilizer.reset(fitted);
    m_tracks.push_back(track);
}

void FaceTracker::dropDuplicates() {
    // Two tracks that converged on one face: the older one stays.
    for (size_t i = 0; i < m_tracks.size(); ++i) {
        if (m_tracks[i].lost) continue;
        const cv::Rect2f a = LandmarkFitter::boxFromLandmarks(m_tracks[i].raw);
        for (size_t j = i + 1; j < m_tracks.size(); ++j) {
            if (m_tracks[j].lost) continue;
            if (overlap(a, LandmarkFitter::boxFromLandmarks(m_tracks[j].raw)) > 0.5f) {
                m_tracks[j].lost = true;
                m_tracks[j].presence = 0.f;
            }
        }
    }
}

void FaceTracker::fadeAndPublish() {
    const float step = 1.f / float(kFadeFrames);
    for (Track& track : m_tracks) {
        track.presence = std::clamp(track.presence + (track.lost ? -step : step), 0.f, 1.f);
    }
    m_tracks.erase(std::remove_if(m_tracks.begin(), m_tracks.end(),
                                  [](const Track& t) { return t.lost && t.presence <= 0.f; }),
                   m_tracks.end());
    m_faces.clear();
    for (const Track& track : m_tracks) {
        Face face;
        face.landmarks = track.stabilizer.current();
        face.presence = track.presence;
        const cv::Point2f across = eyeCentre(face.landmarks, 42) - eyeCentre(face.landmarks, 36);
        face.roll = std::atan2(across.y, across.x);
        face.eyeDistance = float(std::hypot(across.x, across.y));
        m_faces.push_back(face);
    }
}

}  // namespace facelume
