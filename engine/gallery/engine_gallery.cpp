// Renders the engine's gallery: a portrait before and after each control at a visible strength,
// and with all controls together, as side-by-side JPEGs.
//
//   engine_gallery PORTRAIT RESOURCE_FOLDER OUTPUT_FOLDER

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine.h"

namespace {

using facelume::Engine;

struct Control {
    const char* file;
    const char* label;
    std::function<void(Engine&)> set;
};

cv::Mat render(const std::string& resources, const cv::Mat& portrait, const Control& control) {
    Engine engine(facelume::DetectionWorker::Mode::Synchronous);
    std::string error;
    if (!engine.initialize(resources, error)) {
        std::fprintf(stderr, "engine_gallery: %s\n", error.c_str());
        return {};
    }
    control.set(engine);
    // Enough frames for the face to be found and fully faded in.
    const unsigned char* out = nullptr;
    for (int i = 0; i < 12; ++i) out = engine.process(portrait.cols, portrait.rows, portrait.data);
    return cv::Mat(portrait.size(), CV_8UC3, const_cast<unsigned char*>(out)).clone();
}

void label(cv::Mat& image, const std::string& text) {
    cv::putText(image, text, cv::Point(10, 26), cv::FONT_HERSHEY_SIMPLEX, 0.7, cv::Scalar(0, 0, 0),
                4, cv::LINE_AA);
    cv::putText(image, text, cv::Point(10, 26), cv::FONT_HERSHEY_SIMPLEX, 0.7,
                cv::Scalar(255, 255, 255), 1, cv::LINE_AA);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: engine_gallery PORTRAIT RESOURCE_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    const cv::Mat portrait = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (portrait.empty()) {
        std::fprintf(stderr, "engine_gallery: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string resources = argv[2], folder = argv[3];
    const std::vector<Control> controls = {
        {"skin_smooth", "skin smooth 100", [](Engine& e) { e.setSkinSmooth(1.f); }},
        {"skin_white", "skin white 100", [](Engine& e) { e.setSkinWhite(1.f); }},
        {"eye_scale", "eye scale 100", [](Engine& e) { e.setEyeScale(1.f); }},
        {"face_thin", "face thin 100", [](Engine& e) { e.setFaceThin(1.f); }},
        {"filter_warm", "filter warm 100", [](Engine& e) { e.setFilter("warm", 1.f); }},
        {"filter_film", "filter film 100", [](Engine& e) { e.setFilter("film", 1.f); }},
        {"sticker_glasses", "sticker glasses", [](Engine& e) { e.setSticker("glasses"); }},
        {"sticker_cat_ears", "sticker cat_ears", [](Engine& e) { e.setSticker("cat_ears"); }},
        {"lipstick", "lipstick red 80", [](Engine& e) { e.setLipstick("red", 0.8f); }},
        {"cheeks", "cheeks blossom 80", [](Engine& e) { e.setCheeks("blossom", 0.8f); }},
        {"eyebrow", "eyebrow brown 80", [](Engine& e) { e.setEyebrow("brown", 0.8f); }},
        {"all", "all nine",
         [](Engine& e) {
             e.setSkinSmooth(0.7f);
             e.setSkinWhite(0.5f);
             e.setEyeScale(0.5f);
             e.setFaceThin(0.6f);
             e.setFilter("warm", 0.6f);
             e.setSticker("crown");
             e.setLipstick("red", 0.6f);
             e.setCheeks("blossom", 0.6f);
             e.setEyebrow("brown", 0.6f);
         }},
    };
    const std::vector<int> jpeg = {cv::IMWRITE_JPEG_QUALITY, 85};
    for (const Control& control : controls) {
        cv::Mat after = render(resources, portrait, control);
        if (after.empty()) return 1;
        cv::Mat before = portrait.clone();
        label(before, "before");
        label(after, control.label);
        cv::Mat pair;
        cv::hconcat(before, after, pair);
        const std::string path = folder + "/" + control.file + ".jpg";
        if (!cv::imwrite(path, pair, jpeg)) {
            std::fprintf(stderr, "engine_gallery: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
