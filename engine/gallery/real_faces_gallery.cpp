// Renders the pictures of docs/gallery/real-faces.md: several people before and after the
// engine's looks, and a strip of frames across a cut. Frames are 640x480 (the group
// photograph 1280x720) and paced at 30 a second, so the face detection runs in the background
// as in the service.
//
//   real_faces_gallery PICTURE_FOLDER RESOURCE_FOLDER OUTPUT_FOLDER

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine.h"

namespace {

using facelume::Engine;

const cv::Size kFrame(640, 480);
const std::vector<int> kJpeg = {cv::IMWRITE_JPEG_QUALITY, 85};

cv::Mat letterboxed(const cv::Mat& picture, cv::Size size) {
    cv::Mat frame(size, CV_8UC3, cv::Scalar(60, 60, 60));
    const double scale =
        std::min(size.width / double(picture.cols), size.height / double(picture.rows));
    cv::Mat scaled;
    cv::resize(picture, scaled, cv::Size(), scale, scale,
               scale < 1 ? cv::INTER_AREA : cv::INTER_CUBIC);
    scaled.copyTo(frame(cv::Rect((size.width - scaled.cols) / 2, (size.height - scaled.rows) / 2,
                                 scaled.cols, scaled.rows)));
    return frame;
}

// Between 0 and 1 as value goes from low to high, smoothly.
cv::Mat ramp(const cv::Mat& value, float low, float high) {
    cv::Mat u = (value - low) / (high - low);
    u = cv::min(cv::max(u, 0.f), 1.f);
    return u.mul(u).mul(3.f - 2.f * u);
}

// A dark-skinned stand-in, as no photograph of a dark-skinned person with a clear licence is in
// Debian's packages: where the colour is skin- or hair-like (CIE Lab hue between orange and
// yellow, of moderate chroma), the lightness is brought down to 45 % and a and b made a little
// stronger, as deep brown skin is; the background, the suit and greys stay. Deterministic.
cv::Mat darkSkinned(const cv::Mat& bgr) {
    cv::Mat lab;
    bgr.convertTo(lab, CV_32F, 1.0 / 255.0);
    cv::cvtColor(lab, lab, cv::COLOR_BGR2Lab);
    std::vector<cv::Mat> channels;
    cv::split(lab, channels);
    cv::Mat chroma, hue;
    cv::magnitude(channels[1], channels[2], chroma);
    cv::phase(channels[1], channels[2], hue, true);
    cv::Mat skin = ramp(chroma, 3.f, 8.f).mul(1.f - ramp(chroma, 45.f, 60.f));
    skin = skin.mul(ramp(hue, 15.f, 30.f)).mul(1.f - ramp(hue, 75.f, 90.f));
    cv::GaussianBlur(skin, skin, cv::Size(), 4.0);
    channels[0] = channels[0].mul(1.f - 0.55f * skin);
    channels[1] = channels[1].mul(1.f + 0.1f * skin);
    channels[2] = channels[2].mul(1.f + 0.2f * skin);
    cv::merge(channels, lab);
    cv::cvtColor(lab, lab, cv::COLOR_Lab2BGR);
    cv::Mat dark;
    lab.convertTo(dark, CV_8U, 255.0);
    return dark;
}

// Three people side by side in one frame, head and shoulders each: the astronaut, the
// dark-skinned stand-in turned the other way, and the footballer enlarged.
cv::Mat group(const cv::Mat& astronaut, const cv::Mat& dark, const cv::Mat& footballer) {
    cv::Mat frame(kFrame, CV_8UC3, cv::Scalar(60, 60, 60));
    cv::Mat mirrored;
    cv::flip(dark(cv::Rect(112, 0, 280, 360)), mirrored, 1);
    const cv::Mat people[3] = {astronaut(cv::Rect(120, 0, 280, 360)), mirrored,
                               footballer(cv::Rect(170, 20, 140, 180))};
    const cv::Size cell(kFrame.width / 3, kFrame.width / 3 * 360 / 280);
    for (int i = 0; i < 3; ++i) {
        cv::Mat scaled;
        cv::resize(people[i], scaled, cell, 0, 0, cv::INTER_AREA);
        scaled.copyTo(frame(
            cv::Rect(i * cell.width, (kFrame.height - cell.height) / 2, cell.width, cell.height)));
    }
    return frame;
}

void useGallerySettings(Engine& engine) {
    engine.setSkinSmooth(0.8f);
    engine.setSkinWhite(0.4f);
    engine.setFaceThin(0.6f);
    engine.setEyeScale(0.4f);
    engine.setLipstick("#b0304a", 0.6f);
    engine.setCheeks("#e07080", 0.5f);
    engine.setEyebrow("#4a3020", 0.4f);
}

// One frame through the engine, paced like a 30 frames a second camera.
cv::Mat processPaced(Engine& engine, const cv::Mat& frame) {
    std::this_thread::sleep_for(std::chrono::milliseconds(33));
    const unsigned char* out = engine.process(frame.cols, frame.rows, frame.data);
    if (out == nullptr) return {};
    return cv::Mat(frame.size(), CV_8UC3, const_cast<unsigned char*>(out)).clone();
}

void label(cv::Mat& image, const std::string& text) {
    cv::putText(image, text, cv::Point(10, 26), cv::FONT_HERSHEY_SIMPLEX, 0.7, cv::Scalar(0, 0, 0),
                4, cv::LINE_AA);
    cv::putText(image, text, cv::Point(10, 26), cv::FONT_HERSHEY_SIMPLEX, 0.7,
                cv::Scalar(255, 255, 255), 1, cv::LINE_AA);
}

bool write(const std::string& path, const cv::Mat& image) {
    if (!cv::imwrite(path, image, kJpeg)) {
        std::fprintf(stderr, "real_faces_gallery: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

// The frame before and after `seconds` of the same frame: the faces found, tracked and fully
// faded in.
bool beforeAfter(const std::string& resources, const cv::Mat& frame, const std::string& path,
                 int seconds = 2) {
    Engine engine;
    std::string error;
    if (!engine.initialize(resources, error)) {
        std::fprintf(stderr, "real_faces_gallery: %s\n", error.c_str());
        return false;
    }
    useGallerySettings(engine);
    cv::Mat after;
    for (int i = 0; i < 30 * seconds; ++i) after = processPaced(engine, frame);
    if (after.empty()) return false;
    cv::Mat before = frame.clone(), pair;
    label(before, "before");
    label(after, std::to_string(engine.faces().size()) + " face(s) found");
    cv::hconcat(before, after, pair);
    return write(path, pair);
}

// A pan across the first picture, then a cut to the second, with glasses and lipstick on (a
// sticker stays in view longest if the first face were left behind):
// every second frame from 6 before the cut to 8 after it, at half their size in two rows.
bool cutStrip(const std::string& resources, const cv::Mat& first, const cv::Mat& second,
              const std::string& path) {
    Engine engine;
    std::string error;
    if (!engine.initialize(resources, error)) {
        std::fprintf(stderr, "real_faces_gallery: %s\n", error.c_str());
        return false;
    }
    engine.setSticker("glasses");
    engine.setLipstick("#b0304a", 0.8f);
    constexpr int kPan = 4;  // pixels a frame
    auto panned = [&](int frame) {
        const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, kPan * frame, 0, 1, 0);
        cv::Mat moved;
        cv::warpAffine(first, moved, shift, first.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        return moved;
    };
    // Settle on the first picture before the strip starts.
    for (int i = 0; i < 40; ++i) processPaced(engine, panned(-6));
    std::vector<cv::Mat> shown;
    for (int frame = -6; frame <= 8; ++frame) {
        cv::Mat out = processPaced(engine, frame <= 0 ? panned(frame) : second);
        if (out.empty()) return false;
        if (frame % 2 != 0) continue;
        cv::resize(out, out, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
        label(out, "frame " + std::to_string(frame));
        shown.push_back(out);
    }
    cv::Mat top, bottom, strip;
    cv::hconcat(std::vector<cv::Mat>(shown.begin(), shown.begin() + 4), top);
    cv::hconcat(std::vector<cv::Mat>(shown.begin() + 4, shown.end()), bottom);
    cv::vconcat(top, bottom, strip);
    return write(path, strip);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: real_faces_gallery PICTURE_FOLDER RESOURCE_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string pictures = argv[1], resources = argv[2], out = argv[3];
    auto load = [&](const char* name) {
        const cv::Mat picture = cv::imread(pictures + "/" + name, cv::IMREAD_COLOR);
        if (picture.empty())
            std::fprintf(stderr, "real_faces_gallery: cannot read %s/%s\n", pictures.c_str(), name);
        return picture;
    };
    const cv::Mat astronaut = load("astronaut.png"), cameraman = load("camera.png");
    const cv::Mat footballer = load("messi5.jpg"), players = load("basketball1.png");
    const cv::Mat solvay = load("1280px-Solvay_conference_1927.png");
    if (astronaut.empty() || cameraman.empty() || footballer.empty() || players.empty() ||
        solvay.empty())
        return 1;
    // Where the people are in the group photograph, at 1280x720.
    const cv::Mat conference = solvay(cv::Rect(0, 206, 1280, 720));

    const cv::Mat light = letterboxed(astronaut, kFrame);
    const cv::Mat dark = letterboxed(darkSkinned(astronaut), kFrame);
    cv::Mat grey;
    cv::cvtColor(cv::imread(pictures + "/astronaut.png", cv::IMREAD_GRAYSCALE), grey,
                 cv::COLOR_GRAY2BGR);
    grey = letterboxed(grey, kFrame);
    const bool ok =
        beforeAfter(resources, light, out + "/real_astronaut.jpg") &&
        beforeAfter(resources, dark, out + "/real_dark_skin.jpg") &&
        beforeAfter(resources, grey, out + "/real_grey_astronaut.jpg") &&
        beforeAfter(resources, letterboxed(cameraman, kFrame), out + "/real_grey_cameraman.jpg") &&
        beforeAfter(resources, letterboxed(footballer, kFrame), out + "/real_footballer.jpg") &&
        beforeAfter(resources, letterboxed(players, kFrame), out + "/real_grey_basketball.jpg") &&
        beforeAfter(resources, group(astronaut, darkSkinned(astronaut), footballer),
                    out + "/real_group.jpg") &&
        cutStrip(resources, light, letterboxed(footballer, kFrame), out + "/real_cut_strip.jpg") &&
        beforeAfter(resources, conference, out + "/real_grey_conference.jpg", 6);
    return ok ? 0 : 1;
}
