// Per-frame cost of the open engine on a real portrait: the median and 95th percentile of
// process() over a few hundred frames, the median of the frame thread's CPU time and the whole
// process's CPU time per frame (the detection worker included), for face tracking alone, each
// control alone, all nine together on one face and on four, at 640x480, 1280x720 and
// 1920x1080. The engine runs OpenCV on the calling thread, as in the service; the process CPU
// time counts the detection worker's scans too. Full-frame face scans run on the engine's detection
// worker as in the service, with frames paced at 30 a second; the "scan inline" rows run the scans
// on the frame path instead, back to back, so their 95th percentile shows a scan's cost. A control
// that leaves the picture unchanged (its filter, sticker or colour missing from the resource
// folder) ends the run with an error instead of a row that measures nothing.
//
// With "moving" the portrait sways by a pixel a frame, so that every frame's landmarks are
// fitted; a still face keeps its landmarks without a fit. Any other word limits the run to the
// row of that name, or else to the rows whose name starts with it (for profiling one row).
//
//   engine_benchmark PORTRAIT RESOURCE_FOLDER [FRAMES [moving] [CONFIGURATION]]

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine.h"

namespace {

using facelume::DetectionWorker;
using facelume::Engine;

struct Configuration {
    const char* name;
    std::function<void(Engine&)> set;
    DetectionWorker::Mode detection = DetectionWorker::Mode::Background;
    bool changesPicture = true;
    int faces = 1;  // copies of the portrait in the frame, one face each
};

void allNine(Engine& e) {
    e.setSkinSmooth(0.7f);
    e.setSkinWhite(0.5f);
    e.setEyeScale(0.5f);
    e.setFaceThin(0.5f);
    e.setFilter("warm", 0.8f);
    e.setSticker("glasses");
    e.setLipstick("red", 0.6f);
    e.setCheeks("pink", 0.6f);
    e.setEyebrow("brown", 0.6f);
}

const std::vector<Configuration>& configurations() {
    static const std::vector<Configuration> list = {
        {"tracking only", [](Engine&) {}, DetectionWorker::Mode::Background, false},
        {"tracking only, scan inline", [](Engine&) {}, DetectionWorker::Mode::Synchronous, false},
        {"skin smooth", [](Engine& e) { e.setSkinSmooth(0.7f); }},
        {"skin white", [](Engine& e) { e.setSkinWhite(0.5f); }},
        {"eye scale", [](Engine& e) { e.setEyeScale(0.5f); }},
        {"face thin", [](Engine& e) { e.setFaceThin(0.5f); }},
        {"filter", [](Engine& e) { e.setFilter("warm", 0.8f); }},
        {"sticker", [](Engine& e) { e.setSticker("glasses"); }},
        {"lipstick", [](Engine& e) { e.setLipstick("red", 0.6f); }},
        {"cheeks", [](Engine& e) { e.setCheeks("pink", 0.6f); }},
        {"eyebrow", [](Engine& e) { e.setEyebrow("brown", 0.6f); }},
        {"all nine", allNine},
        {"all nine, scan inline", allNine, DetectionWorker::Mode::Synchronous},
        {"all nine, four faces", allNine, DetectionWorker::Mode::Background, true, 4},
    };
    return list;
}

// A portrait (one, or four in a two by two grid) with fresh camera-like noise in each frame,
// still or swaying sideways by a pixel a frame (four pixels either way).
std::vector<cv::Mat> frames(const cv::Mat& portrait, cv::Size size, int faces, bool moving) {
    cv::Mat frame(size, CV_8UC3, cv::Scalar(60, 60, 60));
    const int across = faces == 4 ? 2 : 1;
    const cv::Size tile(size.width / across, size.height / across);
    const double scale =
        std::min(tile.width / double(portrait.cols), tile.height / double(portrait.rows));
    cv::Mat scaled;
    cv::resize(portrait, scaled, cv::Size(), scale, scale, cv::INTER_AREA);
    std::vector<cv::Mat> noisy;
    cv::RNG rng(7);
    const int sway[] = {0, 1, 2, 3, 4, 3, 2, 1};
    for (int i = 0; i < 8; ++i) {
        // Four pixels of margin on either side, so that every shift stays inside the frame.
        frame.setTo(cv::Scalar(60, 60, 60));
        for (int t = 0; t < across * across; ++t) {
            const cv::Point corner(
                (t % across) * tile.width + (tile.width - scaled.cols) / 2 + (moving ? sway[i] : 4),
                (t / across) * tile.height + (tile.height - scaled.rows) / 2);
            scaled(cv::Rect(4, 0, scaled.cols - 8, scaled.rows))
                .copyTo(frame(cv::Rect(corner, cv::Size(scaled.cols - 8, scaled.rows))));
        }
        cv::Mat noise(size, CV_16SC3);
        rng.fill(noise, cv::RNG::NORMAL, 0, 3);
        cv::Mat out;
        cv::add(frame, noise, out, cv::noArray(), CV_8UC3);
        noisy.push_back(out);
    }
    return noisy;
}

struct Figures {
    double median = 0, p95 = 0, cpuMedian = 0, processCpu = 0;
    size_t faces = 0;
};

// CPU time in milliseconds: unlike the wall clock, it does not count the time a thread waits for
// a core that other programs hold.
double cpuMilliseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6;
}
double threadMilliseconds() { return cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID); }
double processMilliseconds() { return cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID); }

double percentile(std::vector<double>& values, int percent) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * size_t(percent) / 100)];
}

Figures measure(const Configuration& c, const std::vector<cv::Mat>& input,
                const std::string& resources, int count) {
    Engine engine(c.detection);
    std::string error;
    if (!engine.initialize(resources, error)) {
        std::fprintf(stderr, "engine_benchmark: %s\n", error.c_str());
        std::exit(1);
    }
    c.set(engine);
    const cv::Size size = input[0].size();
    auto once = [&](int i) {
        const cv::Mat& frame = input[size_t(i) % input.size()];
        return engine.process(size.width, size.height, frame.data);
    };
    // Warm up until the faces are tracked at full presence and the buffers have their size; the
    // first scans take their time on the worker.
    const auto settled = [&] {
        const std::vector<facelume::Face>& found = engine.faces();
        return found.size() == size_t(c.faces) &&
               std::all_of(found.begin(), found.end(),
                           [](const facelume::Face& f) { return f.presence >= 1.f; });
    };
    for (int i = 0; i < 500 && !settled(); ++i) {
        once(i);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Then the rest of the first cycle of scans over the new picture, which follow one another
    // without pause (19 scans at 1920x1080), at a camera's pace: the figures are those of faces
    // followed, as for most of a stream.
    for (int i = 0; i < 60; ++i) {
        once(i);
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
    }
    if (c.changesPicture) {
        const cv::Mat& frame = input[0];
        const cv::Mat output(size, CV_8UC3, const_cast<unsigned char*>(once(0)));
        if (cv::norm(output, frame, cv::NORM_INF) == 0) {
            std::fprintf(stderr,
                         "engine_benchmark: \"%s\" left the picture unchanged; are its "
                         "resources in %s?\n",
                         c.name, resources.c_str());
            std::exit(1);
        }
    }
    std::vector<double> times, cpuTimes;
    times.reserve(size_t(count));
    cpuTimes.reserve(size_t(count));
    // Frames come at a camera's pace, 30 a second, as in the service: the detection worker
    // scans between them instead of competing with the frame path for the cores.
    const auto period = std::chrono::microseconds(33333);
    auto next = std::chrono::steady_clock::now();
    const double processStart = processMilliseconds();
    for (int i = 0; i < count; ++i) {
        if (c.detection == DetectionWorker::Mode::Background) {
            std::this_thread::sleep_until(next);
            next += period;
        }
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadMilliseconds();
        once(i);
        cpuTimes.push_back(threadMilliseconds() - cpuStart);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        next = std::max(next, std::chrono::steady_clock::now());
    }
    const double processCpu = (processMilliseconds() - processStart) / count;
    return {percentile(times, 50), percentile(times, 95), percentile(cpuTimes, 50), processCpu,
            engine.faces().size()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: engine_benchmark PORTRAIT RESOURCE_FOLDER [FRAMES [moving] "
                     "[CONFIGURATION]]\n");
        return 2;
    }
    const cv::Mat portrait = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (portrait.empty()) {
        std::fprintf(stderr, "engine_benchmark: cannot read %s\n", argv[1]);
        return 1;
    }
    const int count = argc > 3 ? std::max(20, std::atoi(argv[3])) : 200;
    std::printf(
        "%d frames each, milliseconds per frame: wall-clock median and 95th percentile, the\n"
        "median of the frame thread's own CPU time, and the whole process's CPU time per frame\n"
        "(the detection worker included)\n\n",
        count);
    const std::vector<cv::Size> sizes = {{640, 480}, {1280, 720}, {1920, 1080}};
    std::printf("| %-28s |", "configuration");
    for (const cv::Size size : sizes)
        std::printf(" %4dx%-4d median / p95 / cpu / process |", size.width, size.height);
    std::printf("\n|%s|", std::string(30, '-').c_str());
    for (size_t i = 0; i < sizes.size(); ++i) std::printf("%s|", std::string(41, '-').c_str());
    std::printf("\n");
    bool moving = false;
    std::string only;
    for (int i = 4; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "moving") {
            moving = true;
        } else {
            only = word;
        }
    }
    const auto& list = configurations();
    const bool exact = std::any_of(list.begin(), list.end(),
                                   [&](const Configuration& c) { return c.name == only; });
    for (const Configuration& c : list) {
        if (exact ? c.name != only : std::string(c.name).rfind(only, 0) != 0) continue;
        std::printf("| %-28s |", c.name);
        for (const cv::Size size : sizes) {
            const Figures f = measure(c, frames(portrait, size, c.faces, moving), argv[2], count);
            std::printf(" %7.2f / %6.2f / %6.2f / %6.2f%s |", f.median, f.p95, f.cpuMedian,
                        f.processCpu, f.faces == size_t(c.faces) ? "  " : " !");
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    std::printf("\n! marks a run that did not track as many faces as the frame shows.\n");
    return 0;
}
