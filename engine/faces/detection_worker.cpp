#include "detection_worker.h"

#include <algorithm>
#include <utility>

namespace facelume {
namespace {

// HOG detector score a face found in an enlarged scan needs.
constexpr double kSmallFaceScore = 0.3;
// The learned detector finds faces of a quarter of the square it looks at and more: squares of
// 256 pixels find faces of 80 pixels (as HOG's upright scan does, up to frames kMaxWidth wide),
// squares of 128 those of 40 (in frames up to 640 pixels wide). Larger frames get squares as much
// larger, but no larger than kSmallestFaceSquare, so that a face of 40 pixels stays 32 pixels of
// the detector's 128 input in frames of 1280 and 1920 pixels (at 29 it misses the footballer).
constexpr float kLargeSquare = 256.f;
constexpr float kSmallSquare = 128.f;
constexpr float kSmallFrameWidth = 640.f;
constexpr float kSmallestFaceSquare = 160.f;
// While every face is followed: in squares of this side a face of 80 pixels is 32 pixels of the
// input, as a face of 40 in the small squares; fewer squares than of 256 pixels, so that they are
// all looked at within about a second at 1280x720 for the cost of the scans before.
constexpr float kFollowedSquare = 320.f;
constexpr int kHogScans = 4;

int groupsOf(size_t squares) {
    return int((squares + DetectionWorker::kSquaresPerScan - 1) / DetectionWorker::kSquaresPerScan);
}

// While every face is followed, a round of scans looks at every group of followed squares and
// then at one group of small squares; a cycle is as many rounds as there are small groups.
int followedRound(int followedGroups, int smallGroups) {
    return followedGroups + (smallGroups > 0 ? 1 : 0);
}

}  // namespace

DetectionWorker::DetectionWorker(Mode mode, const std::string& detectorModel) : m_mode(mode) {
    if (!detectorModel.empty() && !m_learned.load(detectorModel, 128, m_loadError)) {
        m_loadError += "; using dlib's HOG face detector instead";
    }
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

int DetectionWorker::scansPerCycle(cv::Size frame, bool followed) const {
    if (!learned()) return kHogScans;
    const int small = groupsOf(squares(frame, Squares::Small).size());
    if (!followed) return 1 + small + groupsOf(turnedRegions(frame).size());
    const int round = followedRound(groupsOf(squares(frame, Squares::Followed).size()), small);
    return std::max(1, round * std::max(1, small));
}

bool DetectionWorker::idle() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_busy && !m_ready;
}

void DetectionWorker::submit(const cv::Mat& grey, int index, bool followed) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy || m_ready) return;
        // The worker does not touch m_frame while it is not busy, so the copy needs no lock,
        // but holding it is cheap and keeps the rule simple.
        grey.copyTo(m_frame);
        m_index = index;
        m_followed = followed;
        m_busy = true;
    }
    if (m_mode == Mode::Synchronous) {
        scan();
        return;
    }
    m_wake.notify_one();
}

bool DetectionWorker::takeResults(std::vector<Detection>& found, std::vector<float>& detail) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ready) return false;
    found.swap(m_results);
    detail.swap(m_details);
    m_results.clear();
    m_details.clear();
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
    // Only this scan touches m_frame, m_index and the detectors while m_busy is set.
    std::vector<Detection> found;
    std::vector<float> detail;
    try {
        if (learned()) {
            scanLearned(found, detail);
        } else {
            scanHog(found);
            // HOG gives no turn to judge by its detail.
            detail.assign(found.size(), 0.f);
        }
    } catch (const std::exception&) {
        // A failed scan finds nothing; the next one starts afresh.
        found.clear();
        detail.clear();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_results = std::move(found);
    m_details = std::move(detail);
    m_busy = false;
    m_ready = true;
}

void DetectionWorker::scanLearned(std::vector<Detection>& found, std::vector<float>& detail) {
    scanRegion({cv::Point2f(0.5f * m_frame.cols, 0.5f * m_frame.rows),
                cv::Size2f(float(m_frame.cols), float(m_frame.rows)), 1.0, 0.f},
               found, detail);
    if (m_squaresFrame != m_frame.size()) {
        m_largeSquares = squares(m_frame.size(), Squares::Large);
        m_followedSquares = squares(m_frame.size(), Squares::Followed);
        m_smallSquares = squares(m_frame.size(), Squares::Small);
        m_turned = turnedRegions(m_frame.size());
        m_squaresFrame = m_frame.size();
    }
    const int index = m_index % scansPerCycle(m_frame.size(), m_followed);
    const size_t k = kSquaresPerScan;
    if (!m_followed) {
        // The first scan of a cycle finds every face of 80 pixels and more; the next ones look for
        // smaller faces a few squares at a time, the last ones for heads rolled beyond what the
        // detector finds as they are.
        const int small = groupsOf(m_smallSquares.size());
        if (index > small) {
            scanSquares(m_turned, size_t(index - 1 - small) * k, found, detail);
            return;
        }
        if (index > 0) {
            scanSquares(m_smallSquares, size_t(index - 1) * k, found, detail);
            return;
        }
        for (const ScanRegion& square : m_largeSquares) scanRegion(square, found, detail);
        return;
    }
    const int followed = groupsOf(m_followedSquares.size());
    const int round = followedRound(followed, groupsOf(m_smallSquares.size()));
    if (round == 0) return;
    const int step = index % round;
    if (step < followed) {
        scanSquares(m_followedSquares, size_t(step) * k, found, detail);
    } else {
        scanSquares(m_smallSquares, size_t(index / round) * k, found, detail);
    }
}

void DetectionWorker::scanRegion(const ScanRegion& region, std::vector<Detection>& found,
                                 std::vector<float>& detail) {
    m_learned.detectIn(m_frame, region, found);
    // The region is letterboxed into the detector's square input.
    const float side = std::max(region.size.width, region.size.height);
    for (size_t i = detail.size(); i < found.size(); ++i)
        detail.push_back(found[i].box.width / side);
}

void DetectionWorker::scanSquares(const std::vector<ScanRegion>& list, size_t first,
                                  std::vector<Detection>& found, std::vector<float>& detail) {
    for (size_t i = first; i < std::min(list.size(), first + kSquaresPerScan); ++i)
        scanRegion(list[i], found, detail);
}

std::vector<ScanRegion> DetectionWorker::squares(cv::Size size, Squares kind) {
    std::vector<ScanRegion> out;
    const float largeSide = kLargeSquare * std::max(1.f, float(size.width) / float(kMaxWidth));
    const float smallSide = std::min(
        kSmallestFaceSquare, kSmallSquare * std::max(1.f, float(size.width) / kSmallFrameWidth));
    const float side = kind == Squares::Large   ? largeSide
                       : kind == Squares::Small ? smallSide
                                                : kFollowedSquare;
    if (side > float(std::min(size.width, size.height)) ||
        (kind == Squares::Small && side >= largeSide)) {
        return out;
    }
    const float step = 0.75f * side;
    // Squares from the top left corner; the last one in a row or column ends at the edge.
    for (float y = 0.f;; y += step) {
        const float top = std::min(y, float(size.height) - side);
        for (float x = 0.f;; x += step) {
            const float left = std::min(x, float(size.width) - side);
            out.push_back({cv::Point2f(left + 0.5f * side, top + 0.5f * side),
                           cv::Size2f(side, side), 1.0, 0.f});
            if (left + side >= float(size.width)) break;
        }
        if (top + side >= float(size.height)) break;
    }
    return out;
}

std::vector<ScanRegion> DetectionWorker::turnedRegions(cv::Size size) {
    const ScanRegion whole{cv::Point2f(0.5f * size.width, 0.5f * size.height),
                           cv::Size2f(float(size.width), float(size.height)), 1.0, 0.f};
    std::vector<ScanRegion> upright = squares(size, Squares::Large);
    upright.insert(upright.begin(), whole);
    std::vector<ScanRegion> out;
    for (const float roll : {kRolledScan, -kRolledScan}) {
        for (ScanRegion region : upright) {
            region.roll = roll;
            out.push_back(region);
        }
    }
    return out;
}

void DetectionWorker::scanHog(std::vector<Detection>& found) {
    if (!m_hog) m_hog = std::make_unique<FaceDetector>();
    const double fit = m_frame.cols > kMaxWidth ? double(kMaxWidth) / m_frame.cols : 1.0;
    ScanRegion region{cv::Point2f(0.5f * m_frame.cols, 0.5f * m_frame.rows),
                      cv::Size2f(float(m_frame.cols), float(m_frame.rows)), fit, 0.f};
    double threshold = 0.0;
    switch (m_index % kHogScans) {
        case 0:
            break;
        case 1: {
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
        case 2:
            region.roll = kRolledScan;
            break;
        default:
            region.roll = -kRolledScan;
            break;
    }
    m_hog->detectIn(m_frame, region, found, threshold);
}

}  // namespace facelume
