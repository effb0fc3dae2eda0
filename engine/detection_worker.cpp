#include "detection_worker.h"

#include <utility>

namespace facelume {

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

void DetectionWorker::submit(const cv::Mat& grey) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy || m_ready) return;
        // The worker does not touch m_frame while it is not busy, so the copy needs no lock,
        // but holding it is cheap and keeps the rule simple.
        grey.copyTo(m_frame);
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
    // Only this scan touches m_frame and m_detector while m_busy is set.
    std::vector<Detection> found;
    try {
        const double scale = m_frame.cols > kMaxWidth ? double(kMaxWidth) / m_frame.cols : 1.0;
        m_detector.detectIn(m_frame, cv::Rect(0, 0, m_frame.cols, m_frame.rows), scale, found);
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
