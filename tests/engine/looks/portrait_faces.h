#pragma once

// Real faces for the tests of the painting effects: dlib's frontal face detector and 68-point
// shape predictor run on a test picture, turned into the Face records the engine hands to its
// effects (presence 1, roll and eye distance from the eye centres). The model is loaded once
// per test program.

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>

#include <cmath>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "face.h"
#include "looks_test_support.h"

namespace facelume::testing {

inline const char* const kShapeModel = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";

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

// Faces larger than minimumWidth pixels, largest first.
inline std::vector<Face> detectFaces(const cv::Mat& bgr, int minimumWidth = 80) {
    static dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    static dlib::shape_predictor predictor = [] {
        dlib::shape_predictor model;
        dlib::deserialize(kShapeModel) >> model;
        return model;
    }();
    cv::Mat grey;
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    dlib::array2d<unsigned char> image(grey.rows, grey.cols);
    for (int y = 0; y < grey.rows; ++y) {
        std::copy_n(grey.ptr<unsigned char>(y), grey.cols, &image[y][0]);
    }
    std::vector<dlib::rectangle> boxes = detector(image);
    std::sort(boxes.begin(), boxes.end(),
              [](const auto& a, const auto& b) { return a.area() > b.area(); });
    std::vector<Face> faces;
    for (const dlib::rectangle& box : boxes) {
        if (static_cast<int>(box.width()) < minimumWidth) continue;
        const dlib::full_object_detection shape = predictor(image, box);
        std::array<cv::Point2f, 68> landmarks;
        for (int i = 0; i < 68; ++i) {
            landmarks[i] = cv::Point2f(static_cast<float>(shape.part(i).x()),
                                       static_cast<float>(shape.part(i).y()));
        }
        faces.push_back(faceFromLandmarks(landmarks));
    }
    return faces;
}

inline cv::Mat loadPicture(const std::string& name) {
    cv::Mat picture = cv::imread(kTestPictures + "/" + name, cv::IMREAD_COLOR);
    EXPECT_FALSE(picture.empty()) << name << ": run scripts/fetch-test-images.sh first";
    return picture;
}

}  // namespace facelume::testing

namespace facelume::testing {

// The astronaut portrait at twice its size (eye distance about 87 pixels, a webcam face).
inline cv::Mat largeAstronaut() {
    cv::Mat picture = loadPicture("astronaut.png");
    cv::resize(picture, picture, cv::Size(), 2.0, 2.0, cv::INTER_CUBIC);
    return picture;
}

// A filled mask of the frame's size from landmark indices, grown (positive) or shrunk by
// `grow` pixels.
inline cv::Mat landmarkMask(cv::Size size, const Face& face, const std::vector<int>& indices,
                            int grow = 0) {
    cv::Mat mask(size, CV_8UC1, cv::Scalar(0));
    std::vector<cv::Point> polygon;
    for (int i : indices)
        polygon.emplace_back(cvRound(face.landmarks[i].x), cvRound(face.landmarks[i].y));
    cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{polygon}, cv::Scalar(255));
    const cv::Mat kernel = cv::getStructuringElement(
        cv::MORPH_ELLIPSE, cv::Size(2 * std::abs(grow) + 1, 2 * std::abs(grow) + 1));
    if (grow > 0) cv::dilate(mask, mask, kernel);
    if (grow < 0) cv::erode(mask, mask, kernel);
    return mask;
}

inline cv::Mat discMask(cv::Size size, cv::Point2f centre, float radius) {
    cv::Mat mask(size, CV_8UC1, cv::Scalar(0));
    cv::circle(mask, cv::Point(cvRound(centre.x), cvRound(centre.y)), cvRound(radius),
               cv::Scalar(255), cv::FILLED);
    return mask;
}

// Mean absolute change per channel value over the mask.
inline double meanChange(const cv::Mat& before, const cv::Mat& after, const cv::Mat& mask) {
    cv::Mat difference;
    cv::absdiff(before, after, difference);
    const cv::Scalar mean = cv::mean(difference, mask);
    return (mean[0] + mean[1] + mean[2]) / 3.0;
}

inline double maxChange(const cv::Mat& before, const cv::Mat& after, const cv::Mat& mask) {
    cv::Mat difference;
    cv::absdiff(before, after, difference);
    std::vector<cv::Mat> channels;
    cv::split(difference, channels);
    const cv::Mat largest = cv::max(cv::max(channels[0], channels[1]), channels[2]);
    double highest = 0;
    cv::minMaxLoc(largest, nullptr, &highest, nullptr, nullptr, mask);
    return highest;
}

}  // namespace facelume::testing

namespace facelume::testing {

// The largest face of the large astronaut portrait. dlib takes a minute to load its model and
// find the face in a sanitizer build, so the landmarks found once are kept in the tests'
// working folder and read back by the other test processes (written under a temporary name
// and renamed, so a reader never sees half a file).
inline std::vector<Face> astronautFaces(const cv::Mat& largePortrait) {
    const std::string cache = "looks_astronaut_landmarks.yml";
    {
        cv::FileStorage stored(cache, cv::FileStorage::READ);
        cv::Mat points;
        if (stored.isOpened()) stored["landmarks"] >> points;
        if (points.rows == 68 && points.cols == 2 && points.type() == CV_32F) {
            std::array<cv::Point2f, 68> landmarks;
            for (int i = 0; i < 68; ++i)
                landmarks[i] = {points.at<float>(i, 0), points.at<float>(i, 1)};
            return {faceFromLandmarks(landmarks)};
        }
    }
    std::vector<Face> faces = detectFaces(largePortrait);
    if (faces.empty()) return faces;
    faces.resize(1);
    cv::Mat points(68, 2, CV_32F);
    for (int i = 0; i < 68; ++i) {
        points.at<float>(i, 0) = faces[0].landmarks[i].x;
        points.at<float>(i, 1) = faces[0].landmarks[i].y;
    }
    const std::string temporary = cache + "." + std::to_string(std::random_device()()) + ".yml";
    {
        cv::FileStorage out(temporary, cv::FileStorage::WRITE);
        out << "landmarks" << points;
    }
    std::error_code ignored;
    std::filesystem::rename(temporary, cache, ignored);
    return faces;
}

}  // namespace facelume::testing
