#include "detection_worker.h"

#include <algorithm>
#include <utility>

namespace facelume {
namespace {

// Detector score a face found in an enlarged scan needs.
constexpr double kSmallFaceScore = 0.3;

}  // namespace

DetectionWorker::DetectionWorker(Mode mode) : m_mode(mode) {
    if (m_mode == Mode::Background) m_thread = std::thread([this] { run(); });
}

DetectionWorker::~DetectionWorker() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

bool DetectionWorker::idle() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_busy && !m_ready;
}

void DetectionWorker::submit(const cv::Mat& grey, Scan kind) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy || m_ready) return;
        // The worker does not touch m_frame while it is not busy, so the copy needs no lock,
        // but holding it is cheap and keeps the rule simple.
        grey.copyTo(m_frame);
        m_scan = kind;
        m_busy = true;
    }
    if (m_mode == Mode::Synchronous) {
        scan();
        return;
    }
    m_wake.notify_one();
}

bool DetectionWorker::takeResults(std::vector<Detection>& found) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ready) return false;
    found.swap(m_results);
    m_results.clear();
    m_ready = false;
    return true;
}

void DetectionWorker::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || (m_busy && !m_ready); });
        if (m_stop) return;
        lock.unlock();
        scan();
        lock.lock();
    }
}

void DetectionWorker::scan() {
    // Only this scan touches m_frame, m_scan and m_detector while m_busy is set.
    std::vector<Detection> found;
    const double fit = m_frame.cols > kMaxWidth ? double(kMaxWidth) / m_frame.cols : 1.0;
    ScanRegion region{cv::Point2f(0.5f * m_frame.cols, 0.5f * m_frame.rows),
                      cv::Size2f(float(m_frame.cols), float(m_frame.rows)), fit, 0.f};
    double threshold = 0.0;
    switch (m_scan) {
        case Scan::Upright:
            break;
        case Scan::Small: {
            // Faces of 40 pixels, as far as the enlarged frame stays within kMaxWidth. An
            // enlarged scan finds more face-like patterns (a name patch, a badge), so it asks for
            // more.
            const double enlarged = std::min(2.0, double(kMaxWidth) / m_frame.cols);
            if (enlarged > fit) {
                region.scale = enlarged;
                threshold = kSmallFaceScore;
            }
            break;
        }
        case Scan::RolledLeft:
            region.roll = kRolledScan;
            break;
        case Scan::RolledRight:
            region.roll = -kRolledScan;
            break;
    }
    try {
        m_detector.detectIn(m_frame, region, found, threshold);
    } catch (const std::exception&) {
        // A failed scan finds nothing; the next one starts afresh.
        found.clear();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_results = std::move(found);
    m_busy = false;
    m_ready = true;
}

}  // namespace facelume
