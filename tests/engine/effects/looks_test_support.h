#pragma once

// Helpers shared by the tests of the looks: a private scratch folder per test, stderr capture,
// the built resources and test pictures, and a real face: dlib's landmarks on the astronaut
// portrait, turned into the Face record the engine hands to its effects.

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "effect.h"
#include "face.h"
#include "test_names.h"

namespace facelume::testing {

inline const std::string kBuiltResources = FACELUME_TEST_RESOURCES;
inline const std::string kTestPictures = FACELUME_TEST_PICTURES;

// A fresh folder named after the running test, removed again at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        m_path = std::filesystem::temp_directory_path() / testnames::letterName("facelumelooks");
        std::filesystem::remove_all(m_path);  // leftovers of a crashed run
        std::filesystem::create_directories(m_path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    std::string path() const { return m_path.string(); }
    std::string write(const std::string& relativePath, const std::string& text) const {
        const std::filesystem::path file = m_path / relativePath;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }

private:
    std::filesystem::path m_path;
};

// What `call` writes to standard error.
template <typename Call>
std::string stderrOf(Call call) {
    ::testing::internal::CaptureStderr();
    call();
    return ::testing::internal::GetCapturedStderr();
}

// A refusal is one line of standard error that contains `text`.
inline void expectOneLineWith(const std::string& output, const std::string& text) {
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_NE(output.find(text), std::string::npos) << "expected \"" << text << "\" in " << output;
}

inline cv::Mat loadPicture(const std::string& name) {
    cv::Mat picture = cv::imread(kTestPictures + "/" + name, cv::IMREAD_COLOR);
    EXPECT_FALSE(picture.empty()) << name << ": run scripts/fetch-test-images.sh first";
    return picture;
}

// A dark-skinned stand-in for a picture: its lightness in CIE Lab brought down to 35 % with the
// colour's a and b kept a little stronger, as deep brown skin is (dimming in RGB would also
// grey the colour). Deterministic.
inline cv::Mat darkSkinned(const cv::Mat& bgr) {
    cv::Mat lab;
    bgr.convertTo(lab, CV_32F, 1.0 / 255.0);
    cv::cvtColor(lab, lab, cv::COLOR_BGR2Lab);
    lab = lab.mul(cv::Scalar(0.35, 1.1, 1.2));
    cv::cvtColor(lab, lab, cv::COLOR_Lab2BGR);
    cv::Mat dark;
    lab.convertTo(dark, CV_8U, 255.0);
    return dark;
}

inline Face faceFromLandmarks(const std::array<cv::Point2f, 68>& landmarks) {
    Face face;
    face.landmarks = landmarks;
    cv::Point2f right(0, 0), left(0, 0);
    for (int i = 36; i < 42; ++i) right += landmarks[i] / 6.f;
    for (int i = 42; i < 48; ++i) left += landmarks[i] / 6.f;
    const cv::Point2f d = left - right;
    face.roll = std::atan2(d.y, d.x);
    face.eyeDistance = std::hypot(d.x, d.y);
    face.presence = 1.f;
    return face;
}

// The largest face dlib finds, as a 68 x 2 matrix of landmarks (empty when none).
inline cv::Mat detectLandmarks(const cv::Mat& bgr) {
    dlib::shape_predictor predictor;
    dlib::deserialize("/usr/share/dlib/shape_predictor_68_face_landmarks.dat") >> predictor;
    cv::Mat grey;
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    dlib::array2d<unsigned char> image(grey.rows, grey.cols);
    for (int y = 0; y < grey.rows; ++y) std::copy_n(grey.ptr<uchar>(y), grey.cols, &image[y][0]);
    const std::vector<dlib::rectangle> boxes = dlib::get_frontal_face_detector()(image);
    if (boxes.empty()) return {};
    const auto largest = std::max_element(boxes.begin(), boxes.end(),
                                          [](auto& a, auto& b) { return a.area() < b.area(); });
    const dlib::full_object_detection shape = predictor(image, *largest);
    cv::Mat points(68, 2, CV_32F);
    for (int i = 0; i < 68; ++i) {
        points.at<float>(i, 0) = static_cast<float>(shape.part(i).x());
        points.at<float>(i, 1) = static_cast<float>(shape.part(i).y());
    }
    return points;
}

// The astronaut portrait at twice its size (eye distance about 87 pixels, a webcam face) and
// its face, shared by every test of a program. dlib takes a minute to load its model and find
// the face in a sanitizer build, so the landmarks found once are kept in the tests' working
// folder for the other test programs (written under a temporary name and renamed, so a reader
// never sees half a file).
class PortraitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        portrait = loadPicture("astronaut.png");
        cv::resize(portrait, portrait, cv::Size(), 2.0, 2.0, cv::INTER_CUBIC);
        const std::string cache = "looks_astronaut_landmarks.yml";
        cv::Mat points;
        if (cv::FileStorage stored(cache, cv::FileStorage::READ); stored.isOpened())
            stored["landmarks"] >> points;
        if (points.rows != 68 || points.cols != 2 || points.type() != CV_32F) {
            points = detectLandmarks(portrait);
            ASSERT_FALSE(points.empty()) << "dlib finds no face in the portrait";
            const std::string temporary = cache + std::to_string(std::random_device()()) + ".yml";
            {
                cv::FileStorage out(temporary, cv::FileStorage::WRITE);
                out << "landmarks" << points;
            }
            std::error_code ignored;
            std::filesystem::rename(temporary, cache, ignored);
        }
        std::array<cv::Point2f, 68> landmarks;
        for (int i = 0; i < 68; ++i)
            landmarks[i] = {points.at<float>(i, 0), points.at<float>(i, 1)};
        face = faceFromLandmarks(landmarks);
    }

    static cv::Mat painted(Effect& effect, const std::vector<Face>& faces = {face}) {
        cv::Mat frame = portrait.clone();
        effect.apply(frame, faces);
        return frame;
    }

    // A filled mask from landmark indices, grown (positive) or shrunk by `grow` pixels.
    static cv::Mat landmarkMask(const std::vector<int>& indices, int grow = 0) {
        cv::Mat mask(portrait.size(), CV_8UC1, cv::Scalar(0));
        std::vector<cv::Point> polygon;
        for (int i : indices) polygon.push_back(face.landmarks[i]);
        cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{polygon}, cv::Scalar(255));
        const int side = 2 * std::abs(grow) + 1;
        const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(side, side));
        if (grow > 0) cv::dilate(mask, mask, kernel);
        if (grow < 0) cv::erode(mask, mask, kernel);
        return mask;
    }
    // A disc of `radius` eye distances.
    static cv::Mat disc(cv::Point2f centre, float radius) {
        cv::Mat mask(portrait.size(), CV_8UC1, cv::Scalar(0));
        cv::circle(mask, centre, cvRound(radius * face.eyeDistance), cv::Scalar(255), cv::FILLED);
        return mask;
    }
    // Mean absolute change per channel value over the mask, and the largest one.
    static double meanChange(const cv::Mat& after, const cv::Mat& mask) {
        cv::Mat difference;
        cv::absdiff(portrait, after, difference);
        const cv::Scalar mean = cv::mean(difference, mask);
        return (mean[0] + mean[1] + mean[2]) / 3.0;
    }
    static double maxChange(const cv::Mat& after, const cv::Mat& mask = cv::Mat()) {
        return cv::norm(portrait, after, cv::NORM_INF, mask);
    }

    static inline cv::Mat portrait;
    static inline Face face;
};

inline const std::vector<int> kRightEye = {36, 37, 38, 39, 40, 41};
inline const std::vector<int> kLeftEye = {42, 43, 44, 45, 46, 47};
inline const std::vector<int> kOuterLips = {48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59};

}  // namespace facelume::testing
