#pragma once

// Runs the full-frame face detection away from the frame path. A full scan costs about 20 ms at
// 640x480, more than a frame's budget, so the tracker hands a copy of a grey frame to this worker
// now and then and picks up the boxes when they are ready, some frames later; tracked faces are
// followed by their landmarks meanwhile. Frames wider than kMaxWidth are scanned at reduced size.
// A scan looks at the frame upright, enlarged for faces smaller than the detector's window, or
// turned either way for heads tilted by 30 to 70 degrees; the caller lets them take turns.
//
// Threading: submit(), takeResults() and the destructor belong to one thread (the frame
// thread); the scan itself runs on the worker's own thread. In synchronous mode (tests, tools)
// submit() scans at once on the caller's thread and no thread is started.

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "face_detector.h"

namespace facelume {

class DetectionWorker {
public:
    enum class Mode { Background, Synchronous };
    enum class Scan { Upright, Small, RolledLeft, RolledRight };
    static constexpr int kScanKinds = 4;

    explicit DetectionWorker(Mode mode);
    ~DetectionWorker();
    DetectionWorker(const DetectionWorker&) = delete;
    DetectionWorker& operator=(const DetectionWorker&) = delete;

    // True when a new frame may be submitted (no scan running, last results taken).
    bool idle() const;
    // Starts a scan of grey (copied). Ignored unless idle().
    void submit(const cv::Mat& grey, Scan kind);
    // Moves the boxes of the last finished scan into found; false when none are ready.
    bool takeResults(std::vector<Detection>& found);

    static constexpr int kMaxWidth = 1280;
    // How far the frame is turned for tilted heads (radians, 45 degrees).
    static constexpr float kRolledScan = 0.785f;

private:
    void run();
    void scan();

    const Mode m_mode;
    FaceDetector m_detector;
    Scan m_scan = Scan::Upright;
    cv::Mat m_frame;
    std::vector<Detection> m_results;
    bool m_busy = false;
    bool m_ready = false;
    bool m_stop = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};

}  // namespace facelume
