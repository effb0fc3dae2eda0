#pragma once

// Follows every face in a stream of frames and gives the stabilised faces the effects use.
//
// New faces come from the detection worker, which scans a whole frame every few frames (in the
// background, so no frame waits for it), three times less often while every face followed is
// confirmed by its landmarks, but a new picture (a new stream, a cut) without pause until every
// kind of scan has looked at it, so that its faces come at once; a face found there counts only
// when its landmark fit is plausible. A scan that ended frames after the frame it looked at gives
// boxes a face may have moved from: a new face is looked for again around its box in the frame it
// is fitted in.
// Up to kMaxFaces faces are followed, the largest first, and a face once followed keeps its place
// while it lasts, so effects do not hop between people. A followed face is fitted again in every
// frame from the box of its last landmarks, turned by its roll, unless a thumbnail of its box
// looks as it did at its last fit (a still face keeps its landmarks at no cost), or does once the
// box is moved by some shift (a face that only slid takes the landmarks of its fit moved by that
// shift, measured from the fit each time, so nothing adds up). A face that no shift within half
// its width matches (it turned, blurred or moved further) is fitted from the box where it looks
// most as it did (after a fast move the box of its last landmarks can hold a plausible fit beside
// the face); when that fit is no plausible face, a scan of the region around it looks for it, and
// when that fails too the face is dropped at once, so no effect stays where a face was. A scene cut
// drops every face and starts a scan at once. Presence ramps up over a few frames when a face
// appears. One thread (the frame thread).
//
// A camera's frames never wait for a scan. Frames that come far faster (a file converted as fast as
// it decodes) would see a scan's boxes dozens of frames after the frame scanned: a new face would
// come late, and its box would no longer be where the face is. They wait for a scan kMaxScanLag
// frames old.

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "detection_worker.h"
#include "face.h"
#include "face_detector.h"
#include "face_plausibility.h"
#include "landmark_fitter.h"
#include "landmark_stabilizer.h"
#include "neural_face_detector.h"

namespace facelume {

class FaceTracker {
public:
    // fitter must be loaded before the first update() and outlive the tracker. detectorModel: the
    // learned face detector's model file, or empty for dlib's HOG detector (see DetectionWorker).
    FaceTracker(const LandmarkFitter& fitter, DetectionWorker::Mode mode,
                const std::string& detectorModel);

    // Follows the faces into this frame. grey: CV_8UC1.
    void update(const cv::Mat& grey);
    // The faces after the last update, presence above 0 only, in the order they were found.
    const std::vector<Face>& faces() const { return m_faces; }
    // Forgets every face (a new stream or a new frame size).
    void reset();
    // Why the learned face detector is not used, or empty.
    const std::string& detectorError() const { return m_worker.loadError(); }
    // Frames until every kind of scan has looked at a new picture of size, and its faces are in
    // full.
    int findFrames(cv::Size frame) const { return m_worker.scansPerCycle(frame) + kFadeFrames; }

    // Fits a new face to a detector's box (see fitDetection). False when no fit is a plausible
    // face that matches the box.
    bool fitNewFace(const Detection& detection, const cv::Mat& grey, Landmarks& fitted);

    static constexpr int kMaxFaces = 8;
    // Frames between two full-frame scans, while no face or not every face is confirmed by its
    // landmarks, and while every one is; frames of a fade in.
    static constexpr int kDetectionInterval = 5;
    static constexpr int kConfirmedInterval = 15;
    static constexpr int kFadeFrames = 6;
    // Frames after the one scanned from which a scan's boxes are awaited, when frames come faster
    // than a camera's.
    static constexpr int kMaxScanLag = 3;

private:
    struct Track {
        Landmarks raw{};
        LandmarkStabilizer stabilizer;
        float presence = 0.f;
        // How far the face moved in the last frame.
        cv::Point2f motion{0.f, 0.f};
        // A thumbnail of the face's box at its last landmark fit, and that box.
        cv::Mat look;
        cv::Rect lookBox;
        // The landmarks of the last fit, the mean grey of each cell of a kLook grid over lookBox
        // then, and how far the face slid since.
        Landmarks fitted{};
        cv::Mat cells;
        cv::Point2f slid{0.f, 0.f};
        // As Face::turn, from the detection of the face that showed it in the most detail (see
        // updateTurn), and that detail.
        float turn = NAN;
        float turnDetail = 0.f;
    };

    bool sceneChanged(const cv::Mat& grey);
    // Whether the face's box looks as it did at its last fit, so the fit would give the same.
    bool unchanged(const Track& track, const cv::Mat& grey);
    void rememberLook(Track& track, const cv::Mat& grey);
    // Whether the face's box, moved by some shift, looks as at the last fit; if so, moves the
    // landmarks of the fit by it. seen: the shift where it looks closest, when that was looked
    // for beyond the last one.
    bool slidOnly(Track& track, const cv::Mat& grey, std::optional<cv::Point2f>& seen);
    // The shift, a cell apart within reach of start, at which the cells look most as at the last
    // fit.
    cv::Point closestLook(const Track& track, cv::Point start, int reach);
    // The shift near from at which the cells look most as at the last fit, and the sum over the
    // cells of their grey difference from the fit's there; false when no shift can be measured.
    bool measureShift(const Track& track, cv::Point from, cv::Point2f& shift, double& difference);
    // Mean grey of the kLook cells of box moved by offset, from m_integral of m_around; false
    // when the moved box leaves m_around.
    bool cellsAt(const cv::Rect& box, cv::Point offset, cv::Mat& cells) const;
    bool refit(Track& track, const cv::Mat& grey);
    // The eye contrast a followed face found again by detection may have.
    static double maxEyeContrast(const Detection& detection);
    // Whether a followed face's own fit, failed only by its change of size, still holds where a
    // fit from the detection of it failed.
    bool ownFitHolds(const Landmarks& own, const Detection& detection, const cv::Mat& grey);
    // Scans the region around box, turned by roll, for a face known to be there.
    void detectAround(const cv::Rect2f& box, float roll, const cv::Mat& grey,
                      std::vector<Detection>& found);
    // Takes a new fit of a followed face.
    void follow(Track& track, const Landmarks& fitted, const cv::Mat& grey);
    // Fits a face to a detector's box, new or searched for again, at the detector's roll unless
    // a fit of the upright box turns its eye line otherwise. The fit follows the roll it is
    // given, and a wrong one can still look like a face: the key points of a small or turned
    // face can be 15 degrees off, and a fit at the wrong sign of a 45 degree tilt puts the eyes
    // on the nose and the brow.
    bool fitDetection(const Detection& detection, const cv::Mat& grey, double maxEyeContrast,
                      Landmarks& fitted);
    bool fitAtJudgedRoll(const Detection& detection, const cv::Mat& grey, double maxEyeContrast,
                         Landmarks& fitted);
    // Fits a near profile at the rolls it may have (the detector's, the upright fit's and 45
    // degrees either way) and takes the fit whose eyes are darkest against its cheeks.
    void fitAtDarkestEyes(const Detection& detection, const cv::Mat& grey, double maxEyeContrast,
                          const Landmarks& upright, Landmarks& fitted);
    // Fits box again from the roll that fitted, started at from, shows, while that darkens its
    // eyes against its cheeks. A weak detection's fit is not settled: it must tilt as the
    // detector's key points do, not as the fit alone turns.
    void settleRoll(const cv::Rect2f& box, float from, const cv::Mat& grey, double maxEyeContrast,
                    Landmarks& fitted);
    // The mean grey of the lightest part of the frame.
    double lightOf(const cv::Mat& grey);
    // Rolls (radians) within the detector's key points' error of each other.
    static bool sameRoll(float a, float b);
    // Fits a face to box; false when the fit is no plausible face that matches the box.
    bool fitFace(const cv::Rect2f& box, float roll, const cv::Mat& grey, double maxEyeContrast,
                 float maxScaleChange, Landmarks& fitted);
    static bool mostlyInside(const cv::Rect2f& box, const cv::Mat& grey);
    static bool wellInside(const cv::Rect2f& box, const cv::Mat& grey);
    // Boxes of about one size and place.
    static bool sameFace(const cv::Rect2f& a, const cv::Rect2f& b, float maxScaleChange);
    void scanForNewFaces(const cv::Mat& grey);
    // scannedEarlier: the scan looked at an earlier frame, which the faces may have moved from.
    void addFaces(const cv::Mat& grey, bool scannedEarlier);
    // The detection of a face scanned in an earlier frame where the face is in this one.
    Detection whereNow(const Detection& scanned, const cv::Mat& grey);
    bool covered(const cv::Rect2f& box) const;
    // A face followed under detection's box takes the detection's turn, unless it was seen in
    // more detail (a larger share of the detector's input) before. The key points of a face small
    // in the whole frame or cut by a square's edge can make a near profile frontal.
    void updateTurn(const Detection& detection, float detail);
    // A face followed at a roll that a clear detection under it does not share is fitted again
    // at the detection's roll as fitDetection judges it, and takes that fit when it is the
    // better one. A face taken from a weak detection can keep a roll 30 degrees off while it
    // is followed: a still face is not fitted again, a moving one at the roll it has. A
    // detection of an earlier frame is looked for where the face is now first.
    void refitAtDetectedRoll(const Detection& scanned, const cv::Mat& grey, bool scannedEarlier);
    // Hands the frame to the worker when a scan is due and the worker is free.
    void submitIfDue(const cv::Mat& grey);
    void waitForLateScan();
    // Whether a box of about this size and place was rejected and still looks as it did then.
    bool rejectedBefore(const cv::Rect2f& box, const cv::Mat& grey);
    // A kLook thumbnail of box; empty when too little of the box is in the frame.
    static void thumbnail(const cv::Rect2f& box, const cv::Mat& grey, cv::Mat& look);
    void ageRejected();
    void dropDuplicates();
    void publish();

    const LandmarkFitter& m_fitter;
    DetectionWorker m_worker;
    // Looks for a lost face near where it was: the learned detector when the worker uses it.
    NeuralFaceDetector m_regionModel;
    std::unique_ptr<FaceDetector> m_regionHog;
    FacePlausibility m_plausibility;
    std::vector<Track> m_tracks;
    std::vector<Detection> m_detections;
    std::vector<float> m_details;
    // Detections of a region scanned around a new face's box.
    std::vector<Detection> m_found;
    // Plausible new faces of the last scan.
    std::vector<Landmarks> m_candidates;
    // Boxes whose fit was not a plausible face, with the frames left until they are tried again:
    // a badge the detector takes for a face is found again in every scan. A box that no longer
    // looks as then (a face that moved or turned, whose fit failed from a scan of a frame before)
    // is tried again at once.
    struct Rejected {
        cv::Rect2f box;
        int framesLeft = 0;
        cv::Mat look;
    };
    std::vector<Rejected> m_rejected;
    std::vector<Face> m_faces;
    cv::Size m_frameSize;
    // A tiny copy of the last frame, to notice cuts.
    cv::Mat m_thumbnail, m_previousThumbnail;
    // The same with its light and contrast taken out, to notice cuts in dim clips.
    cv::Mat m_shape, m_previousShape;
    cv::Mat m_look;
    // A tiny copy of the frame whose lightest cell is its light.
    cv::Mat m_light;
    // Where a slid face is looked for, its integral image, and cells moved by one pixel.
    cv::Rect m_around;
    cv::Mat m_integral;
    std::array<cv::Mat, 4> m_moved;
    int m_framesSinceScan = kDetectionInterval;
    int m_scans = 0;
    // Frames since the last scan was handed to the worker; when each of the last kMaxScanLag
    // frames came, indexed by the count of frames.
    int m_scanAge = 0;
    std::array<std::chrono::steady_clock::time_point, kMaxScanLag> m_frameTimes{};
    size_t m_frames = 0;
    // The scans look at a new picture without pause until a cycle is done.
    bool m_firstCycle = true;
    // The running scan saw a frame before a cut; its faces are gone.
    bool m_staleScan = false;
};

}  // namespace facelume
