#pragma once

// Follows every face in a stream of frames and gives the stabilised faces the effects use.
//
// New faces come from the detection worker, which scans a whole frame every few frames (in the
// background, so no frame waits for it); a face found there counts only when its landmark fit is
// plausible. A tracked face is fitted again in every frame from the box of its last landmarks; when
// that fit fails, the tracker scans a small region around the last position before it gives the
// face up, and it scans that region too when no full scan has confirmed the face for a few
// frames. Presence ramps up over a few frames when a face appears and down when it is lost, the
// landmarks staying where they were last seen. One thread (the frame thread).

#include <vector>

#include <opencv2/core.hpp>

#include "detection_worker.h"
#include "face.h"
#include "face_detector.h"
#include "face_plausibility.h"
#include "landmark_fitter.h"
#include "landmark_stabilizer.h"

namespace facelume {

class FaceTracker {
public:
    // fitter must be loaded and outlive the tracker.
    FaceTracker(const LandmarkFitter& fitter, DetectionWorker::Mode mode);

    // Follows the faces into this frame. bgr: CV_8UC3; grey: its grey version.
    void update(const cv::Mat& bgr, const cv::Mat& grey);
    // The faces after the last update, presence above 0 only.
    const std::vector<Face>& faces() const { return m_faces; }
    // Forgets every face (a new stream or a new frame size).
    void reset();

    static constexpr int kMaxFaces = 6;
    // Frames between two full-frame scans, and frames of a fade in or out.
    static constexpr int kDetectionInterval = 5;
    static constexpr int kFadeFrames = 6;
    // A tracked face that a full scan missed is looked for with a scan of its own region; a
    // landmark fit alone can cling to a face-coloured patch. At most this many frames pass
    // between two full scans (more while a background scan is still running).
    static constexpr int kConfirmFrames = kDetectionInterval + 1;

private:
    struct Track {
        Landmarks raw{};
        LandmarkStabilizer stabilizer;
        float presence = 0.f;
        bool lost = false;
        // Full scans since the detector last saw a face here.
        int unconfirmed = 0;
    };

    bool refit(Track& track, const cv::Mat& bgr, const cv::Mat& grey);
    bool findAround(Track& track, const cv::Rect2f& box, const cv::Mat& bgr, const cv::Mat& grey);
    void confirm(const Detection& detection);
    bool rejectedBefore(const cv::Rect2f& box) const;
    void ageRejected();
    bool fitAround(Track& track, const cv::Rect2f& box, const cv::Mat& bgr, const cv::Mat& grey);
    void scanForNewFaces(const cv::Mat& bgr, const cv::Mat& grey);
    void addFace(const Detection& detection, const cv::Mat& bgr, const cv::Mat& grey);
    bool covered(const cv::Rect2f& box) const;
    void dropDuplicates();
    void fadeAndPublish();

    const LandmarkFitter& m_fitter;
    DetectionWorker m_worker;
    FaceDetector m_regionDetector;
    FacePlausibility m_plausibility;
    std::vector<Track> m_tracks;
    std::vector<Detection> m_detections;
    // Boxes whose fit was not a plausible face, with the frames left until they are tried again:
    // a badge the detector takes for a face is found again in every scan.
    struct Rejected {
        cv::Rect2f box;
        int framesLeft = 0;
    };
    std::vector<Rejected> m_rejected;
    std::vector<Face> m_faces;
    cv::Size m_frameSize;
    int m_framesSinceScan = kDetectionInterval;
};

}  // namespace facelume
