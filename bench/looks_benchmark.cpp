// Time per frame of each look (colour filter, stickers, make-up) alone and of all of them
// together, on the astronaut portrait with its real landmarks, at 640x480 and 1280x720, one
// thread. Landmarks come from dlib once, outside the timing.

#include <benchmark/benchmark.h>
#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "blush.h"
#include "eyebrow_makeup.h"
#include "lipstick.h"
#include "lut_filter.h"
#include "sticker_overlay.h"

namespace facelume {
namespace {

const std::string kResources = FACELUME_BENCH_RESOURCES;
const std::string kPortrait = FACELUME_BENCH_PICTURES "/astronaut.png";
const char* const kShapeModel = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";

struct Scene {
    cv::Mat frame;
    std::vector<Face> faces;
};

// The portrait scaled so that the frame's height shows it whole, on a grey background.
Scene makeScene(cv::Size size) {
    Scene scene;
    const cv::Mat portrait = cv::imread(kPortrait, cv::IMREAD_COLOR);
    if (portrait.empty()) {
        std::fprintf(stderr, "%s missing: run scripts/fetch-test-images.sh\n", kPortrait.c_str());
        std::exit(1);
    }
    scene.frame = cv::Mat(size, CV_8UC3, cv::Scalar(128, 128, 128));
    cv::Mat scaled;
    cv::resize(portrait, scaled, cv::Size(size.height, size.height), 0, 0, cv::INTER_AREA);
    scaled.copyTo(
        scene.frame(cv::Rect((size.width - size.height) / 2, 0, size.height, size.height)));

    cv::Mat grey;
    cv::cvtColor(scene.frame, grey, cv::COLOR_BGR2GRAY);
    dlib::array2d<unsigned char> image(grey.rows, grey.cols);
    for (int y = 0; y < grey.rows; ++y) std::copy_n(grey.ptr<uchar>(y), grey.cols, &image[y][0]);
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    dlib::shape_predictor predictor;
    dlib::deserialize(kShapeModel) >> predictor;
    std::vector<dlib::rectangle> boxes = detector(image);
    std::sort(boxes.begin(), boxes.end(), [](auto& a, auto& b) { return a.area() > b.area(); });
    if (boxes.empty()) {
        std::fprintf(stderr, "no face found in the portrait\n");
        std::exit(1);
    }
    const dlib::full_object_detection shape = predictor(image, boxes.front());
    Face face;
    for (int i = 0; i < 68; ++i)
        face.landmarks[i] = cv::Point2f(shape.part(i).x(), shape.part(i).y());
    cv::Point2f right(0, 0), left(0, 0);
    for (int i = 0; i < 6; ++i)
        right += face.landmarks[36 + i] / 6.f, left += face.landmarks[42 + i] / 6.f;
    face.roll = std::atan2(left.y - right.y, left.x - right.x);
    face.eyeDistance = static_cast<float>(cv::norm(left - right));
    face.presence = 1.f;
    scene.faces.push_back(face);
    return scene;
}

const Scene& scene(int width) {
    static const Scene small = makeScene(cv::Size(640, 480));
    static const Scene large = makeScene(cv::Size(1280, 720));
    return width == 640 ? small : large;
}

void run(benchmark::State& state, const std::vector<Effect*>& effects) {
    const Scene& s = scene(static_cast<int>(state.range(0)));
    cv::Mat frame = s.frame.clone();
    for (auto _ : state) {
        // In place on the same frame: the cost does not depend on what was painted before.
        for (Effect* effect : effects) effect->apply(frame, s.faces);
        benchmark::DoNotOptimize(frame.data);
    }
}

void BM_LutFilter(benchmark::State& state) {
    LutFilter filter(kResources);
    filter.configure("film", 0.8f);
    run(state, {&filter});
}

void BM_StickerOverlay(benchmark::State& state) {
    StickerOverlay sticker(kResources);
    sticker.configure("glasses");
    run(state, {&sticker});
}

void BM_Lipstick(benchmark::State& state) {
    Lipstick lipstick(kResources);
    lipstick.configure("red", 0.8f);
    run(state, {&lipstick});
}

void BM_Blush(benchmark::State& state) {
    Blush blush(kResources);
    blush.configure("pink", 0.8f);
    run(state, {&blush});
}

void BM_EyebrowMakeup(benchmark::State& state) {
    EyebrowMakeup brows(kResources);
    brows.configure("darkbrown", 0.8f);
    run(state, {&brows});
}

void BM_AllLooks(benchmark::State& state) {
    LutFilter filter(kResources);
    StickerOverlay sticker(kResources);
    Lipstick lipstick(kResources);
    Blush blush(kResources);
    EyebrowMakeup brows(kResources);
    filter.configure("film", 0.8f);
    sticker.configure("crown");
    lipstick.configure("red", 0.8f);
    blush.configure("pink", 0.8f);
    brows.configure("darkbrown", 0.8f);
    run(state, {&lipstick, &blush, &brows, &filter, &sticker});
}

double percentile95(const std::vector<double>& values) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<size_t>(0.95 * (sorted.size() - 1))];
}

#define LOOKS_BENCHMARK(name)           \
    BENCHMARK(name)                     \
        ->Arg(640)                      \
        ->Arg(1280)                     \
        ->Unit(benchmark::kMillisecond) \
        ->Repetitions(15)               \
        ->ReportAggregatesOnly(true)    \
        ->ComputeStatistics("p95", percentile95)

LOOKS_BENCHMARK(BM_LutFilter);
LOOKS_BENCHMARK(BM_StickerOverlay);
LOOKS_BENCHMARK(BM_Lipstick);
LOOKS_BENCHMARK(BM_Blush);
LOOKS_BENCHMARK(BM_EyebrowMakeup);
LOOKS_BENCHMARK(BM_AllLooks);

}  // namespace
}  // namespace facelume

BENCHMARK_MAIN();
