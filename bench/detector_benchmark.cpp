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

#include <time.h>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: detector_benchmark MODEL_FILE\n");
        return 2;
    }
    cv::setNumThreads(1);
    std::string error;
    facelume::LandmarkFitter fitter;
    if (!fitter.load(TestPictures::resourceFolder() + "/" + facelume::Engine::kModelFile, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
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
