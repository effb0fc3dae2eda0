#pragma once

// Runs the full-frame face detection away from the frame path. A full scan costs more than a
// frame's budget, so the tracker hands a copy of a grey frame to this worker now and then and
// picks up the boxes when they are ready, some frames later; tracked faces are followed by their
// landmarks meanwhile.
//
// The worker uses the learned face detector (NeuralFaceDetector) when its model loads, and
// dlib's HOG detector otherwise. Either looks at a new picture over a cycle of scans, the first
// of which is the frame as a whole:
// - learned: the whole frame finds large faces; squares of 256 pixels tiling it faces of 80
//   pixels and more; smaller squares faces down to 40 pixels: of 128 pixels in frames up to 640
//   pixels wide, larger in larger frames but at most 160 pixels, so that faces of 40 pixels are
//   found in frames of 1280 and 1920 pixels too. It finds heads tilted up to about 40 degrees as
//   they are and gives their roll; the whole frame and the squares of 256 pixels turned by 45
//   degrees either way find heads tilted by 40 to 70 degrees of 80 pixels and more; a smaller
//   tilted face that a small square nearly took is looked at again in a square turned by its
//   roll. While not every face is followed, the first scan of a cycle looks at the whole frame
//   and the squares of 256 pixels, the next ones at the small squares and then the turned
//   regions a few at a time: a new picture's scans follow one another without pause, so each of
//   those is kept within about a frame's time; later ones also look at the whole frame each
//   time, for a large face walking in.
//   While every face is followed, new faces are rare and a scan should cost little, but one that
//   comes in should not wait long: the scans then look at the whole frame and at squares of 320
//   pixels (faces of 80 pixels and more), all of them within a round of a few scans, and at a
//   third of the small squares in each round, so that a face of 80 pixels is found within a
//   round wherever it appears, and a smaller one within three rounds. A face of 40 pixels is
//   missed where the small squares' seams cut it, and its score falls below the threshold where
//   it lies between two of the detector's anchors: every other cycle after a new picture's
//   first takes a second grid of small squares, shifted by half a step and half an anchor, so it
//   is found within two cycles wherever it is. That grid takes clear faces only, as a second
//   look at other places lets weak patterns through;
// - HOG: the frame upright (frames wider than kMaxWidth at reduced size), enlarged for faces
//   smaller than the detector's window, and turned either way for heads tilted by 30 to 70
//   degrees.
//
// Threading: submit(), takeResults(), waitForResults() and the destructor belong to one thread (the
// frame thread); the scan itself runs on the worker's own thread. In synchronous mode (tests,
// tools) submit() scans at once on the caller's thread and no thread is started.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "face_detector.h"
#include "neural_face_detector.h"

namespace facelume {

class DetectionWorker {
public:
    enum class Mode { Background, Synchronous };

    // detectorModel: the learned detector's model file (128x128 input); empty for dlib's HOG
    // detector. When it does not load, the HOG detector is used and loadError() says why.
    DetectionWorker(Mode mode, const std::string& detectorModel);
    ~DetectionWorker();
    DetectionWorker(const DetectionWorker&) = delete;
    DetectionWorker& operator=(const DetectionWorker&) = delete;

    bool learned() const { return m_learned.loaded(); }
    const std::string& loadError() const { return m_loadError; }
    // How a scan looks at a frame: a new picture's cycle; a later one while not every face is
    // followed; while every face is.
    enum class Pace { NewPicture, Searching, Followed };
    // Scans until every part of a frame of size has been looked at, at every size (and tilt,
    // unless every face is followed).
    int scansPerCycle(cv::Size frame, Pace pace = Pace::NewPicture) const;

    // True when a new frame may be submitted (no scan running, last results taken).
    bool idle() const;
    // Starts scan number index of a cycle (counted from 0, the whole frame) on grey (copied).
    // Ignored unless idle().
    void submit(const cv::Mat& grey, int index, Pace pace = Pace::NewPicture);
    // Moves the boxes of the last finished scan into found, and into detail how large each face
    // was in the detector's input, as a share of it (its key points are the more exact, the
    // larger); false when none are ready.
    bool takeResults(std::vector<Detection>& found, std::vector<float>& detail);
    // Blocks until the running scan, if any, is done; its results are then ready to take.
    void waitForResults();

    static constexpr int kMaxWidth = 1280;
    // How far the frame is turned for tilted heads (radians, 45 degrees).
    static constexpr float kRolledScan = 0.785f;
    // Squares the learned detector looks at in one scan while not every face is followed (about
    // 4 ms each at 640x480: with the whole frame, a scan within a frame at 30 frames a second).
    static constexpr int kSquaresPerScan = 7;
    // While every face is followed: squares of 320 pixels in one scan, as many scans and one more
    // make a round; the small squares are spread over this many rounds.
    static constexpr int kFollowedSquaresPerScan = 8;
    static constexpr int kSmallRounds = 3;

private:
    void run();
    void scan();
    void scanLearned(std::vector<Detection>& found, std::vector<float>& detail);
    void scanHog(std::vector<Detection>& found);
    enum class Squares { Large, Followed, Small };
    // The squares of a kind tiling a frame of size, overlapping by a quarter; no small ones where
    // they would be as large as the large ones, none larger than the frame. Shifted: the grid
    // starts half a step (and half an anchor) from the corner, so its squares are centred on the
    // other's seams.
    static std::vector<ScanRegion> squares(cv::Size size, Squares kind, bool shifted = false);
    // The whole frame and the large squares, turned by kRolledScan either way.
    static std::vector<ScanRegion> turnedRegions(cv::Size size);
    // What the scans after the first look at while not every face is followed: the small
    // squares, then the turned regions.
    static std::vector<ScanRegion> searchedRegions(cv::Size size, bool shifted = false);
    // Scans of a round while every face is followed (none without squares), and the small
    // squares of a round.
    static int followedRound(size_t followedSquares, size_t smallSquares);
    static size_t smallShare(size_t smallSquares);
    void scanFollowed(int index, bool shifted, std::vector<Detection>& found,
                      std::vector<float>& detail);
    // The lowest score a small square of a grid takes.
    static double smallThreshold(bool shifted);
    // Looks at region, and notes the detail of each face found.
    void scanRegion(const ScanRegion& region, std::vector<Detection>& found,
                    std::vector<float>& detail, double threshold = NeuralFaceDetector::kThreshold);
    // Looks at a small square of a grid, and notes the tilted faces it nearly took.
    void scanSmallSquare(const ScanRegion& square, bool shifted, std::vector<Detection>& found,
                         std::vector<float>& detail);
    // Looks at the best near misses of the scan again, turned by their roll.
    void lookAgain(std::vector<Detection>& found, std::vector<float>& detail);
    // Looks at regions first .. first + kSquaresPerScan of the searched regions of a grid.
    void scanSquares(size_t first, bool shifted, std::vector<Detection>& found,
                     std::vector<float>& detail);
    void scanWhole(std::vector<Detection>& found, std::vector<float>& detail);

    const Mode m_mode;
    NeuralFaceDetector m_learned;
    std::string m_loadError;
    // Made on first use: unpacking dlib's detector costs CPU that the learned detector saves.
    std::unique_ptr<FaceDetector> m_hog;
    int m_index = 0;
    Pace m_pace = Pace::NewPicture;
    cv::Mat m_frame;
    std::vector<ScanRegion> m_largeSquares, m_followedSquares;
    // Indexed by whether the grid of small squares is shifted.
    std::vector<ScanRegion> m_searched[2], m_smallSquares[2];
    cv::Size m_squaresFrame;
    // A small square's detections down to the near misses, and the scan's near misses: a square
    // of the size they were seen in, around them, turned by their roll, and the score to reach.
    std::vector<Detection> m_seen;
    struct NearMiss {
        double score;
        double threshold;
        ScanRegion region;
    };
    std::vector<NearMiss> m_nearMisses;
    std::vector<Detection> m_results;
    std::vector<float> m_details;
    bool m_busy = false;
    bool m_ready = false;
    bool m_stop = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::thread m_thread;
};

}  // namespace facelume
