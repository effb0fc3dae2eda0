// The engine through its C interface, as the service uses it: initialisation failures, frames of
// odd sizes, the reused output buffer, clamped and nonsense values, and a face found by the
// background detection within a few frames.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "mox_ai_effect.h"
#include "test_pictures.h"

namespace {

using namespace facelume;

int initializeWith(std::string folder) { return initialize(folder.data()); }

void setEverything(float value) {
    std::string name = "warm";
    modify_skin_white(value);
    modify_skin_smooth(value);
    modify_shape_eye_scale(value);
    modify_shape_face_thin(value);
    modify_filter(name.data(), value);
    modify_sticker(name.data());
    modify_makeup_lipstick(name.data(), value);
    modify_makeup_cheeks(name.data(), value);
    modify_makeup_eyebrow(name.data(), value);
}

TEST(MoxAiEffectTest, InitializeFailsWithAReasonWhenTheFolderOrTheModelIsMissing) {
    const ScratchFolder scratch;
    const std::string folder = scratch.path() + "/beauty_res";
    const std::string model = folder + "/models/shape_predictor_68_face_landmarks.dat";
    std::string said = stderrOf([&] {
        EXPECT_EQ(initializeWith(folder), 0);
        EXPECT_EQ(initialize(nullptr), 0);
    });
    EXPECT_NE(said.find("resource folder"), std::string::npos) << said;

    // A folder without the model, then one whose model is not a model.
    said = stderrOf([&] {
        std::filesystem::create_directories(folder + "/models");
        EXPECT_EQ(initializeWith(folder), 0);
        scratch.write("beauty_res/models/shape_predictor_68_face_landmarks.dat", "not a model");
        EXPECT_EQ(initializeWith(folder), 0);
    });
    EXPECT_NE(said.find("shape_predictor_68_face_landmarks.dat"), std::string::npos) << said;

    // Not initialised: no output, no crash.
    std::vector<unsigned char> pixels(4 * 4 * 3, 9);
    unsigned char* out = nullptr;
    EXPECT_EQ(process(4, 4, pixels.data(), &out), 0);

    // The landmark model without the face detection model: dlib's HOG detector, said once.
    std::filesystem::remove(model);
    std::filesystem::create_symlink(
        TestPictures::resourceFolder() + "/models/shape_predictor_68_face_landmarks.dat", model);
    said = stderrOf([&] { EXPECT_EQ(initializeWith(folder), 1); });
    EXPECT_NE(said.find("using dlib's HOG face detector"), std::string::npos) << said;
    EXPECT_EQ(process(4, 4, pixels.data(), &out), 1);
}

TEST(MoxAiEffectTest, FramesOfAnySizeGoThroughWithEveryControlAtAnyValue) {
    ASSERT_EQ(initializeWith(TestPictures::resourceFolder()), 1);
    const cv::Mat portrait = TestPictures::astronaut640();
    for (float value : {1e9f, std::numeric_limits<float>::quiet_NaN()}) {
        setEverything(value);
        for (cv::Size size :
             {cv::Size(1, 1), cv::Size(3, 5), cv::Size(1920, 1080), cv::Size(641, 479)}) {
            cv::Mat frame;
            cv::resize(portrait, frame, size, 0, 0, cv::INTER_AREA);
            ASSERT_TRUE(frame.isContinuous());
            unsigned char* out = nullptr;
            ASSERT_EQ(process(size.width, size.height, frame.data, &out), 1);
            ASSERT_NE(out, nullptr);
            // Past the top, the warm look is at full strength; NaN turns the controls off rather
            // than spreading through the pixels. Either way every output byte is read.
            const double change = cv::norm(cv::Mat(size, CV_8UC3, out), frame, cv::NORM_INF);
            EXPECT_EQ(change > 0, value == value) << size << " at " << value;
        }
    }
    unsigned char* out = nullptr;
    EXPECT_EQ(process(0, 5, portrait.data, &out), 0);
    EXPECT_EQ(process(5, -1, portrait.data, &out), 0);
    EXPECT_EQ(process(5, 5, nullptr, &out), 0);
    EXPECT_EQ(process(5, 5, portrait.data, nullptr), 0);
    setEverything(0.f);
}

TEST(MoxAiEffectTest, ReusesItsOutputAndFindsTheFaceInTheBackground) {
    ASSERT_EQ(initializeWith(TestPictures::resourceFolder()), 1);
    cv::Mat frame = TestPictures::astronaut640();
    modify_shape_eye_scale(1.f);
    unsigned char* first = nullptr;
    ASSERT_EQ(process(frame.cols, frame.rows, frame.data, &first), 1);
    // The face detection runs beside the frames: the eyes grow after a few frames (a fraction
    // of a second here; the deadline leaves room for sanitizer builds on a busy machine).
    bool changed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!changed && std::chrono::steady_clock::now() < deadline) {
        unsigned char* out = nullptr;
        ASSERT_EQ(process(frame.cols, frame.rows, frame.data, &out), 1);
        EXPECT_EQ(out, first) << "the output buffer is reused while the size stays";
        changed = cv::norm(cv::Mat(frame.size(), CV_8UC3, out), frame, cv::NORM_INF) > 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(changed);
    modify_shape_eye_scale(0.f);
}

}  // namespace
