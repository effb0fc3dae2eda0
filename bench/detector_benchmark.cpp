// Compares dlib's HOG face detector with the learned short-range face detector (BlazeFace) on the
// engine's test pictures and their variants, each scanning as the engine's detection worker
// does: for each picture, the boxes a whole cycle of scans finds (the boxes of one face from
// several scans merged), how many of them the engine takes for faces (a landmark fit that passes
// the plausibility test of a new face), and the CPU time of each scan of a cycle on a 640x480 and
// a 1280x720 frame.
//
//   detector_benchmark MODEL_FILE
//
// MODEL_FILE: face_detection_front_128x128_barracuda.onnx (scripts/fetch-models.sh).
//
//   detector_benchmark MODEL_FILE join|cut|places [40|100]
//
// Instead, join: frames until a face of 100 or 40 pixels joining three followed ones is followed
// too, at 1280x720 and 1920x1080, over places and moments of two cycles of scans (synchronous
// scans); cut: frames until the footballer of 40 pixels is followed after a cut, with the
// background worker at 30 frames a second; places: for each place of the 40 pixel face joining,
// the scans of two cycles that find it, with its score. A face size after join measures only it.

#include <time.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "detection_worker.h"
#include "engine.h"
#include "face_tracker.h"
#include "landmark_fitter.h"
#include "test_pictures.h"

namespace {

using facelume::Detection;
using facelume::DetectionWorker;
using facelume::TestPictures;

// Pictures of equal height side by side, vertically centred, on a grey frame of size.
cv::Mat row(const std::vector<cv::Mat>& pictures, cv::Size size) {
    cv::Mat frame(size, CV_8UC3, cv::Scalar(60, 60, 60));
    int x = 0;
    for (const cv::Mat& picture : pictures) {
        picture.copyTo(
            frame(cv::Rect(x, (size.height - picture.rows) / 2, picture.cols, picture.rows)));
        x += picture.cols;
    }
    return frame;
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Picture {
    const char* name;
    std::function<cv::Mat()> make;
    int faces;
};

cv::Mat astronaut() { return TestPictures::astronaut640(); }
cv::Mat hopper() { return TestPictures::load("grace_hopper.jpg"); }

std::vector<Picture> pictures() {
    using L = TestPictures::Light;
    return {
        {"astronaut (badge on the shoulder)", astronaut, 1},
        {"astronaut grey", [] { return TestPictures::relit(astronaut(), L::Grey); }, 1},
        {"hopper sepia", [] { return TestPictures::relit(hopper(), L::Sepia); }, 1},
        {"hopper blue flash", [] { return TestPictures::relit(hopper(), L::BlueFlash); }, 1},
        {"hopper dim", [] { return TestPictures::relit(hopper(), L::Dim); }, 1},
        {"cameraman, three-quarter", [] { return TestPictures::load("camera.png"); }, 1},
        {"footballer, 40 px", [] { return TestPictures::load("messi5.jpg"); }, 1},
        {"basketball player, 37 px, turned", [] { return TestPictures::load("basketball1.png"); },
         1},
        {"astronaut at 40 px",
         [] {
             return TestPictures::moved(astronaut(), {0, 0}, 0.46, 0);
         },
         1},
        {"animated, dim, tilted", [] { return TestPictures::videoFrame("Megamind.avi", 60); }, 1},
        {"animated, turned", [] { return TestPictures::videoFrame("Megamind.avi", 170); }, 1},
        {"animated, glasses", [] { return TestPictures::videoFrame("Megamind.avi", 200); }, 1},
        {"astronaut rolled 30",
         [] {
             return TestPictures::moved(astronaut(), {0, 0}, 1, 30);
         },
         1},
        {"astronaut rolled 45",
         [] {
             return TestPictures::moved(astronaut(), {0, 0}, 1, 45);
         },
         1},
        {"hopper rolled -55",
         [] {
             return TestPictures::moved(hopper(), {0, 0}, 1, -55);
         },
         1},
        {"four portraits in 1280x720",
         [] {
             const cv::Mat h = TestPictures::letterboxed(hopper(), {320, 400});
             const cv::Mat a = TestPictures::letterboxed(astronaut(), {320, 400});
             return row({h, a, h, a}, {1280, 720});
         },
         4},
        {"coffee", [] { return TestPictures::load("coffee.png"); }, 0},
        {"cat", [] { return TestPictures::load("chelsea.png"); }, 0},
        {"mandrill", [] { return TestPictures::load("baboon.jpg"); }, 0},
        {"rendered monkey head", [] { return TestPictures::load("Blender_Suzanne1.jpg"); }, 0},
        {"crowd of small figures", [] { return TestPictures::videoFrame("vtest.avi", 100); }, 0},
    };
}

// Boxes of several scans merged: one box per place.
std::vector<Detection> merged(const std::vector<Detection>& all) {
    std::vector<Detection> out;
    for (const Detection& d : all) {
        const bool seen = std::any_of(out.begin(), out.end(), [&](const Detection& o) {
            return (o.box & d.box).area() > 0.3f * std::min(o.box.area(), d.box.area());
        });
        if (!seen) out.push_back(d);
    }
    return out;
}

// The boxes of scan index of grey, and its CPU time in milliseconds.
double scan(DetectionWorker& worker, const cv::Mat& grey, int index, std::vector<Detection>& all) {
    std::vector<Detection> found;
    std::vector<float> detail;
    const double start = threadCpuMs();
    worker.submit(grey, index);
    worker.takeResults(found, detail);
    const double spent = threadCpuMs() - start;
    all.insert(all.end(), found.begin(), found.end());
    return spent;
}

struct Source {
    const char* name;
    cv::Rect2f box;  // the learned detector's box of the face in the picture
};
const Source kHopper{"grace_hopper.jpg", {177, 146, 189, 189}};
const Source kAstronaut{"astronaut.png", {172, 78, 103, 103}};
const Source kFootballer{"messi5.jpg", {225, 98, 33, 33}};

// Pastes the face of source, side pixels large, centred at centre.
void paste(cv::Mat& frame, const Source& source, float side, cv::Point centre) {
    const cv::Mat picture = TestPictures::load(source.name);
    const cv::Rect2f& b = source.box;
    const cv::Rect around =
        cv::Rect(int(b.x - b.width), int(b.y - b.height), int(3 * b.width), int(3 * b.height)) &
        cv::Rect(0, 0, picture.cols, picture.rows);
    const double zoom = side / b.width;
    cv::Mat face;
    cv::resize(picture(around), face, cv::Size(), zoom, zoom, cv::INTER_AREA);
    const cv::Point2f middle = (b.tl() + b.br()) / 2 - cv::Point2f(around.tl());
    const cv::Rect to = cv::Rect(centre - cv::Point(middle * zoom), face.size()) &
                        cv::Rect(0, 0, frame.cols, frame.rows);
    face(to - (centre - cv::Point(middle * zoom))).copyTo(frame(to));
}

size_t track(facelume::FaceTracker& tracker, const cv::Mat& frame) {
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    tracker.update(grey);
    return tracker.faces().size();
}

void printSpread(const char* what, std::vector<int> frames) {
    std::sort(frames.begin(), frames.end());
    const int never = int(std::count(frames.begin(), frames.end(), -1));
    frames.erase(frames.begin(), frames.begin() + never);
    if (frames.empty()) {
        std::printf("%s: never found\n", what);
        return;
    }
    std::printf("%s: median / 90%% / worst %d / %d / %d frames over %zu, not found %d\n", what,
                frames[frames.size() / 2], frames[frames.size() * 9 / 10], frames.back(),
                frames.size(), never);
}

// Three followed faces of 100 pixels in a frame of size.
cv::Mat followedThree(cv::Size size) {
    cv::Mat base(size, CV_8UC3, cv::Scalar(90, 100, 110));
    const int top = size.height / 5;
    paste(base, kHopper, 100, {size.width / 4, top});
    paste(base, kAstronaut, 100, {size.width / 2, top});
    paste(base, kHopper, 100, {3 * size.width / 4, top});
    return base;
}

// Place column of row of a face joining followedThree().
cv::Point joiningPlace(cv::Size size, int row, int column) {
    return cv::Point((1 + 2 * column) * size.width / 10,
                     (4 + row) * size.height / 7 + (column % 2) * size.height / 14);
}

// A face of side pixels joins three followed ones of 100 pixels at 5 places in each of rows rows,
// at 3 moments of two cycles of scans each (the small squares of one cycle lie on another grid
// than those of the next).
void joins(const facelume::LandmarkFitter& fitter, const std::string& model, cv::Size size,
           const Source& source, float side, int rows) {
    const cv::Mat base = followedThree(size);
    const DetectionWorker worker(DetectionWorker::Mode::Synchronous, model);
    const int cycle = worker.scansPerCycle(size, DetectionWorker::Pace::Followed) *
                      facelume::FaceTracker::kConfirmedInterval;
    std::vector<int> frames;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < 5; ++column) {
            const cv::Point at = joiningPlace(size, row, column);
            for (int moment = 0; moment < 3; ++moment) {
                facelume::FaceTracker tracker(fitter, DetectionWorker::Mode::Synchronous, model);
                int warm = 0;
                while (warm < 400 && (track(tracker, base) < 3 || warm < 100)) ++warm;
                for (int i = 0; i < moment * 2 * cycle / 3 + row * 5 + column; ++i)
                    track(tracker, base);
                cv::Mat frame = base.clone();
                paste(frame, source, side, at);
                int n = 1;
                while (n <= 3 * cycle && track(tracker, frame) < 4) ++n;
                frames.push_back(n <= 3 * cycle ? n : -1);
            }
        }
    }
    char what[96];
    std::snprintf(what, sizeof what, "%dx%d, %.0f px face joining (cycle %d frames)", size.width,
                  size.height, double(side), cycle);
    printSpread(what, frames);
}

// For each place of the footballer of 40 pixels joining three followed faces, the scans of two
// cycles while every face is followed that find it, and its score in each.
void places(const std::string& model, cv::Size size) {
    DetectionWorker worker(DetectionWorker::Mode::Synchronous, model);
    const int cycle = worker.scansPerCycle(size, DetectionWorker::Pace::Followed);
    std::printf("%dx%d, 40 px footballer joining, scans (of 2 x %d) finding it: score\n",
                size.width, size.height, cycle);
    for (int column = 0; column < 5; ++column) {
        const cv::Point at = joiningPlace(size, 0, column);
        cv::Mat frame = followedThree(size), grey;
        paste(frame, kFootballer, 40, at);
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        std::printf("  at (%4d, %4d):", at.x, at.y);
        for (int index = 0; index < 2 * cycle; ++index) {
            std::vector<Detection> found;
            std::vector<float> detail;
            worker.submit(grey, index, DetectionWorker::Pace::Followed);
            worker.takeResults(found, detail);
            for (const Detection& d : found) {
                const cv::Point2f centre = (d.box.tl() + d.box.br()) / 2;
                if (cv::norm(centre - cv::Point2f(at)) < 20.f)
                    std::printf(" %d: %.2f", index, d.score);
            }
        }
        std::printf("\n");
    }
}

// The footballer after a cut from the astronaut, background worker, frames at 30 a second.
void afterCut(const facelume::LandmarkFitter& fitter, const std::string& model) {
    const cv::Mat astronaut = TestPictures::astronaut640();
    const cv::Mat footballer =
        TestPictures::letterboxed(TestPictures::load("messi5.jpg"), {640, 480});
    std::vector<int> frames;
    for (int run = 0; run < 6; ++run) {
        facelume::FaceTracker tracker(fitter, DetectionWorker::Mode::Background, model);
        auto next = std::chrono::steady_clock::now();
        const auto paced = [&](const cv::Mat& frame) {
            next += std::chrono::microseconds(33333);
            const size_t n = track(tracker, frame);
            std::this_thread::sleep_until(next);
            return n;
        };
        for (int i = 0; i < 120; ++i) paced(astronaut);
        int n = 1;
        while (n <= 60 && paced(footballer) == 0) ++n;
        frames.push_back(n <= 60 ? n : -1);
    }
    printSpread("footballer after a cut, background worker, 30 frames a second", frames);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc >= 3 ? argv[2] : "";
    const std::string joining = argc == 4 ? argv[3] : "";
    if (argc > 4 || (argc >= 3 && mode != "join" && mode != "cut" && mode != "places") ||
        (argc == 4 && (mode != "join" || (joining != "40" && joining != "100")))) {
        std::fprintf(stderr, "usage: detector_benchmark MODEL_FILE [join [40|100]|cut|places]\n");
        return 2;
    }
    cv::setNumThreads(1);
    std::string error;
    facelume::LandmarkFitter fitter;
    if (!fitter.load(TestPictures::resourceFolder() + "/" + facelume::Engine::kModelFile, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (mode == "cut") {
        afterCut(fitter, argv[1]);
        return 0;
    }
    if (mode == "places") {
        for (const cv::Size size : {cv::Size(1280, 720), cv::Size(1920, 1080)})
            places(argv[1], size);
        return 0;
    }
    if (mode == "join") {
        for (const cv::Size size : {cv::Size(1280, 720), cv::Size(1920, 1080)}) {
            if (joining != "40") joins(fitter, argv[1], size, kHopper, 100, 3);
            if (joining != "100") joins(fitter, argv[1], size, kFootballer, 40, 1);
        }
        return 0;
    }
    DetectionWorker hog(DetectionWorker::Mode::Synchronous, "");
    DetectionWorker learned(DetectionWorker::Mode::Synchronous, argv[1]);
    if (!learned.learned()) {
        std::fprintf(stderr, "%s\n", learned.loadError().c_str());
        return 1;
    }
    struct Scanner {
        const char* name;
        DetectionWorker& worker;
    };
    const Scanner scanners[] = {{"HOG", hog}, {"learned", learned}};

    // Decides, as the engine does, which boxes are faces.
    facelume::FaceTracker tracker(fitter, DetectionWorker::Mode::Synchronous, argv[1]);
    facelume::Landmarks fitted;
    std::printf("boxes a cycle of scans finds / taken for faces by the plausibility test\n");
    std::printf("%-34s %5s | %-12s | %-12s\n", "picture", "faces", "HOG", "learned");
    for (const Picture& p : pictures()) {
        cv::Mat grey;
        cv::cvtColor(p.make(), grey, cv::COLOR_BGR2GRAY);
        std::printf("%-34s %5d", p.name, p.faces);
        for (const Scanner& s : scanners) {
            std::vector<Detection> all;
            for (int i = 0; i < s.worker.scansPerCycle(grey.size()); ++i) {
                scan(s.worker, grey, i, all);
            }
            const std::vector<Detection> boxes = merged(all);
            const long taken = std::count_if(boxes.begin(), boxes.end(), [&](const Detection& d) {
                return tracker.fitNewFace(d, grey, fitted);
            });
            std::printf(" | %5zu / %-4ld", boxes.size(), taken);
        }
        std::printf("\n");
    }

    std::printf("\nCPU ms of each scan of a cycle (median of 5), and their sum\n");
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720)}) {
        cv::Mat grey;
        cv::cvtColor(TestPictures::letterboxed(hopper(), size), grey, cv::COLOR_BGR2GRAY);
        for (const Scanner& s : scanners) {
            std::printf("%dx%d %-8s", size.width, size.height, s.name);
            double cycle = 0.0;
            for (int i = 0; i < s.worker.scansPerCycle(size); ++i) {
                std::vector<double> times;
                std::vector<Detection> ignored;
                for (int run = 0; run < 5; ++run) times.push_back(scan(s.worker, grey, i, ignored));
                std::nth_element(times.begin(), times.begin() + 2, times.end());
                cycle += times[2];
                std::printf(" %6.1f", times[2]);
            }
            std::printf("  = %6.1f\n", cycle);
        }
    }
    return 0;
}
