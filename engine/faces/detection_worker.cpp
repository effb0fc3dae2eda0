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
// all looked at within about a second and a half at 1280x720.
constexpr float kFollowedSquare = 320.f;
constexpr int kHogScans = 4;
// A small face rolled by about 45 degrees can score under the threshold in the upright small
// squares (the footballer rolled 45: 0.67, his roll given as -34) while the turned scans are too
// coarse for it (19 pixels of the input in a square of 256); a square of the same size around
// it, turned by the roll given, scores 0.78. Such near misses, scoring kNearMiss and more at a
// roll of kTiltedMiss (radians, 30 degrees) and more, get that second look, the best
// kSecondLooks of a scan (about 4 ms each).
constexpr double kNearMiss = 0.6;
constexpr float kTiltedMiss = 0.52f;
constexpr size_t kSecondLooks = 2;

size_t groupsOf(size_t squares, size_t perGroup) { return (squares + perGroup - 1) / perGroup; }

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

int DetectionWorker::scansPerCycle(cv::Size frame, Pace pace) const {
    if (!learned()) return kHogScans;
    if (pace != Pace::Followed)
        return 1 + int(groupsOf(searchedRegions(frame).size(), kSquaresPerScan));
    const size_t small = squares(frame, Squares::Small).size();
    const int round = followedRound(squares(frame, Squares::Followed).size(), small);
    return std::max(1, small > 0 ? round * kSmallRounds : round);
}

int DetectionWorker::followedRound(size_t followedSquares, size_t smallSquares) {
    return int(groupsOf(followedSquares, kFollowedSquaresPerScan)) + (smallSquares > 0 ? 1 : 0);
}

size_t DetectionWorker::smallShare(size_t smallSquares) {
    return groupsOf(smallSquares, kSmallRounds);
}

bool DetectionWorker::idle() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_busy && !m_ready;
}

void DetectionWorker::submit(const cv::Mat& grey, int index, Pace pace) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy || m_ready) return;
        // The worker does not touch m_frame while it is not busy, so the copy needs no lock,
        // but holding it is cheap and keeps the rule simple.
        grey.copyTo(m_frame);
        m_index = index;
        m_pace = pace;
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

void DetectionWorker::waitForResults() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [this] { return !m_busy; });
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_results = std::move(found);
        m_details = std::move(detail);
        m_busy = false;
        m_ready = true;
    }
    m_done.notify_one();
}

void DetectionWorker::scanLearned(std::vector<Detection>& found, std::vector<float>& detail) {
    if (m_squaresFrame != m_frame.size()) {
        m_largeSquares = squares(m_frame.size(), Squares::Large);
        m_followedSquares = squares(m_frame.size(), Squares::Followed);
        for (const bool shifted : {false, true}) {
            m_searched[shifted] = searchedRegions(m_frame.size(), shifted);
            m_smallSquares[shifted] = squares(m_frame.size(), Squares::Small, shifted);
        }
        m_squaresFrame = m_frame.size();
    }
    const int cycle = scansPerCycle(m_frame.size(), m_pace);
    const int index = m_index % cycle;
    // A new picture's cycle and every other one after it take the grid of small squares from the
    // frame's corner, the others the shifted grid.
    const bool shifted = m_pace != Pace::NewPicture && (m_index / cycle) % 2 == 1;
    m_nearMisses.clear();
    if (m_pace == Pace::Followed) {
        scanWhole(found, detail);
        scanFollowed(index, shifted, found, detail);
    } else if (index == 0) {
        // The first scan of a cycle finds every face of 80 pixels and more.
        scanWhole(found, detail);
        for (const ScanRegion& square : m_largeSquares) scanRegion(square, found, detail);
    } else {
        // A new picture's scans follow one another, so the next ones need not look at the whole
        // frame again.
        if (m_pace == Pace::Searching) scanWhole(found, detail);
        scanSquares(size_t(index - 1) * kSquaresPerScan, shifted, found, detail);
    }
    lookAgain(found, detail);
}

void DetectionWorker::scanFollowed(int index, bool shifted, std::vector<Detection>& found,
                                   std::vector<float>& detail) {
    // A round is every followed square and then its share of the small squares, split evenly
    // over its scans; the next round takes the next share. The shifted grid has no more squares
    // than the other, so the rounds are counted on the other.
    const size_t followed = m_followedSquares.size();
    const size_t share = smallShare(m_smallSquares[false].size());
    const int round = followedRound(followed, m_smallSquares[false].size());
    if (round == 0) return;
    const std::vector<ScanRegion>& small = m_smallSquares[shifted];
    const size_t perScan = groupsOf(followed + share, size_t(round));
    const size_t first = size_t(index % round) * perScan;
    const size_t smallFirst = size_t(index / round) * share;
    for (size_t i = first; i < std::min(followed + share, first + perScan); ++i) {
        if (i < followed) {
            scanRegion(m_followedSquares[i], found, detail);
        } else if (smallFirst + (i - followed) < small.size()) {
            scanSmallSquare(small[smallFirst + (i - followed)], shifted, found, detail);
        }
    }
}

void DetectionWorker::scanWhole(std::vector<Detection>& found, std::vector<float>& detail) {
    scanRegion({cv::Point2f(0.5f * m_frame.cols, 0.5f * m_frame.rows),
                cv::Size2f(float(m_frame.cols), float(m_frame.rows)), 1.0, 0.f},
               found, detail);
}

void DetectionWorker::scanRegion(const ScanRegion& region, std::vector<Detection>& found,
                                 std::vector<float>& detail, double threshold) {
    m_learned.detectIn(m_frame, region, found, threshold);
    // The region is letterboxed into the detector's square input.
    const float side = std::max(region.size.width, region.size.height);
    for (size_t i = detail.size(); i < found.size(); ++i)
        detail.push_back(found[i].box.width / side);
}

void DetectionWorker::scanSquares(size_t first, bool shifted, std::vector<Detection>& found,
                                  std::vector<float>& detail) {
    const std::vector<ScanRegion>& list = m_searched[shifted];
    for (size_t i = first; i < std::min(list.size(), first + kSquaresPerScan); ++i) {
        if (i < m_smallSquares[shifted].size()) {
            scanSmallSquare(list[i], shifted, found, detail);
        } else {
            scanRegion(list[i], found, detail);
        }
    }
}

void DetectionWorker::scanSmallSquare(const ScanRegion& square, bool shifted,
                                      std::vector<Detection>& found, std::vector<float>& detail) {
    // Scanned down to kNearMiss, the detections the square takes are the same: the detector
    // keeps the best of overlapping boxes.
    const double threshold = smallThreshold(shifted);
    m_seen.clear();
    m_learned.detectIn(m_frame, square, m_seen, kNearMiss);
    for (const Detection& d : m_seen) {
        if (d.score >= threshold) {
            found.push_back(d);
            detail.push_back(d.box.width / square.size.width);
        } else if (std::abs(d.roll) >= kTiltedMiss) {
            const cv::Point2f centre = 0.5f * (d.box.tl() + d.box.br());
            m_nearMisses.push_back({d.score, threshold, {centre, square.size, 1.0, d.roll}});
        }
    }
}

void DetectionWorker::lookAgain(std::vector<Detection>& found, std::vector<float>& detail) {
    std::sort(m_nearMisses.begin(), m_nearMisses.end(),
              [](const NearMiss& a, const NearMiss& b) { return a.score > b.score; });
    size_t looks = 0;
    for (const NearMiss& miss : m_nearMisses) {
        if (looks == kSecondLooks) break;
        // Taken already, in another square or by an earlier second look.
        if (std::any_of(found.begin(), found.end(),
                        [&](const Detection& d) { return d.box.contains(miss.region.centre); })) {
            continue;
        }
        ++looks;
        scanRegion(miss.region, found, detail, miss.threshold);
    }
}

double DetectionWorker::smallThreshold(bool shifted) {
    // The shifted grid looks at the frame a second time at other places, where a pattern that
    // scores as a weak face in some place passes too (a patch on the astronaut's suit, 0.76 to
    // 0.79), so it takes clear faces only: the faces it is for, cut or between two anchors in
    // the other grid, score 0.82 and more in it.
    return shifted ? NeuralFaceDetector::kWeakScore : NeuralFaceDetector::kThreshold;
}

std::vector<ScanRegion> DetectionWorker::squares(cv::Size size, Squares kind, bool shifted) {
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
    // Half an anchor off, so that a face between two of the detector's anchors in one grid lies
    // on one in the other, at the frame's edges too.
    const float anchor = shifted ? 0.5f * side / float(NeuralFaceDetector::kFineCells) : 0.f;
    // Where squares start along a side of length; the last one ends at the edge. Counted by the
    // start, as an edge computed back from a fraction may never be reached exactly.
    const auto starts = [&](float length) {
        std::vector<float> at;
        for (float x = shifted ? 0.5f * step + anchor : 0.f; x + side < length; x += step)
            at.push_back(x);
        at.push_back(std::max(0.f, length - side));
        return at;
    };
    for (const float top : starts(float(size.height) - anchor)) {
        for (const float left : starts(float(size.width) - anchor)) {
            out.push_back({cv::Point2f(left + 0.5f * side, top + 0.5f * side),
                           cv::Size2f(side, side), 1.0, 0.f});
        }
    }
    return out;
}

std::vector<ScanRegion> DetectionWorker::searchedRegions(cv::Size size, bool shifted) {
    std::vector<ScanRegion> out = squares(size, Squares::Small, shifted);
    const std::vector<ScanRegion> turned = turnedRegions(size);
    out.insert(out.end(), turned.begin(), turned.end());
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
