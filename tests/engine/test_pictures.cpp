#include "test_pictures.h"

#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "engine.h"
#include "face_detector.h"
#include "face_shape.h"

namespace facelume {

cv::Mat TestPictures::load(const std::string& name) {
    const std::string path = std::string(FACELUME_TEST_PICTURES) + "/" + name;
    cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR);
    EXPECT_FALSE(picture.empty()) << "missing test picture " << path
                                  << ": run scripts/fetch-test-images.sh";
    return picture;
}

cv::Mat TestPictures::letterboxed(const cv::Mat& picture, cv::Size size) {
    cv::Mat frame(size, CV_8UC3, cv::Scalar(60, 60, 60));
    if (picture.empty()) return frame;
    const double scale =
        std::min(size.width / double(picture.cols), size.height / double(picture.rows));
    cv::Mat scaled;
    cv::resize(picture, scaled, cv::Size(), scale, scale, cv::INTER_AREA);
    scaled.copyTo(frame(cv::Rect((size.width - scaled.cols) / 2, (size.height - scaled.rows) / 2,
                                 scaled.cols, scaled.rows)));
    return frame;
}

cv::Mat TestPictures::astronaut640() {
    return letterboxed(load("astronaut.png"), cv::Size(640, 480));
}

cv::Mat TestPictures::grid(const cv::Mat& picture, cv::Size cell, int count, int columns) {
    const int rows = (count + columns - 1) / columns;
    cv::Mat frame(cell.height * rows, cell.width * columns, CV_8UC3, cv::Scalar(60, 60, 60));
    const cv::Mat one = letterboxed(picture, cell);
    for (int i = 0; i < count; ++i) {
        one.copyTo(frame(cv::Rect((i % columns) * cell.width, (i / columns) * cell.height,
                                  cell.width, cell.height)));
    }
    return frame;
}

cv::Matx23d TestPictures::motion(cv::Point2f centre, cv::Point2f shift, double zoom,
                                 double degrees) {
    cv::Matx23d transform = cv::getRotationMatrix2D(centre, degrees, zoom);
    transform(0, 2) += shift.x;
    transform(1, 2) += shift.y;
    return transform;
}

cv::Mat TestPictures::moved(const cv::Mat& picture, cv::Point2f shift, double zoom,
                            double degrees) {
    const cv::Point2f centre(picture.cols / 2.f, picture.rows / 2.f);
    cv::Mat out;
    cv::warpAffine(picture, out, motion(centre, shift, zoom, degrees), picture.size(),
                   cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return out;
}

Face TestPictures::moved(const Face& face, cv::Point2f shift, double zoom, double degrees,
                         cv::Point2f centre) {
    Landmarks landmarks;
    cv::transform(face.landmarks, landmarks, motion(centre, shift, zoom, degrees));
    return faceOf(landmarks);
}

cv::Mat TestPictures::noisy(const cv::Mat& picture, double sigma, int seed) {
    cv::RNG rng(uint64_t(seed) + 1);
    cv::Mat noise(picture.size(), CV_16SC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, sigma);
    cv::Mat out;
    cv::add(picture, noise, out, cv::noArray(), CV_8UC3);
    return out;
}

cv::Mat TestPictures::relit(const cv::Mat& picture, Light light) {
    cv::Mat out;
    switch (light) {
        case Light::Grey:
            cv::cvtColor(picture, out, cv::COLOR_BGR2GRAY);
            cv::cvtColor(out, out, cv::COLOR_GRAY2BGR);
            break;
        case Light::Sepia: {
            // Rows give blue, green, red from blue, green, red: the classic brown print tone.
            const cv::Matx33f sepia(0.131f, 0.534f, 0.272f, 0.168f, 0.686f, 0.349f, 0.189f, 0.769f,
                                    0.393f);
            cv::transform(picture, out, sepia);
            break;
        }
        case Light::BlueFlash:
            // A hard flash: brighter, contrast up, the red cut and the blue raised.
            cv::transform(picture, out, cv::Matx34f(1.4f, 0, 0, 50, 0, 1.2f, 0, 20, 0, 0, 0.8f, 0));
            break;
        case Light::Dim:
            picture.convertTo(out, -1, 0.3, 0);
            out = noisy(out, 4.0, 7);
            break;
    }
    return out;
}

cv::Mat TestPictures::videoFrame(const std::string& name, int index) {
    const std::string path = std::string(FACELUME_TEST_PICTURES) + "/" + name;
    cv::VideoCapture clip(path);
    cv::Mat frame;
    for (int i = 0; i <= index; ++i) {
        if (!clip.read(frame)) frame.release();
    }
    EXPECT_FALSE(frame.empty()) << "no frame " << index << " in " << path
                                << ": run scripts/fetch-test-images.sh";
    return frame;
}

const LandmarkFitter& TestPictures::fitter() {
    static LandmarkFitter fitter;
    if (!fitter.loaded()) {
        std::string error;
        EXPECT_TRUE(fitter.load(resourceFolder() + "/" + Engine::kModelFile, error)) << error;
    }
    return fitter;
}

Face TestPictures::faceIn(const cv::Mat& picture) {
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    std::vector<Detection> found;
    FaceDetector().detect(grey, found);
    EXPECT_FALSE(found.empty()) << "no face found";
    if (found.empty()) return {};
    const auto largest = std::max_element(
        found.begin(), found.end(), [](auto& a, auto& b) { return a.box.area() < b.box.area(); });
    return faceOf(fitter().fit(grey, largest->box));
}

Face TestPictures::faceOf(const Landmarks& landmarks) {
    Face face;
    face.landmarks = landmarks;
    face.roll = LandmarkFitter::rollOf(landmarks);
    face.eyeDistance =
        float(cv::norm(FaceShape::leftEyeCentre(face) - FaceShape::rightEyeCentre(face)));
    face.presence = 1.f;
    return face;
}

void PortraitTest::SetUpTestSuite() {
    cv::resize(TestPictures::load("astronaut.png"), portrait, cv::Size(), 2.0, 2.0,
               cv::INTER_CUBIC);
    face = TestPictures::faceIn(portrait);
}

cv::Mat PortraitTest::painted(Effect& effect, const std::vector<Face>& faces) {
    cv::Mat frame = portrait.clone();
    effect.apply(frame, faces);
    return frame;
}

cv::Mat TestPictures::landmarkMask(cv::Size size, const Face& face, const std::vector<int>& indices,
                                   int grow) {
    cv::Mat mask(size, CV_8UC1, cv::Scalar(0));
    std::vector<cv::Point> polygon;
    for (int i : indices) polygon.push_back(face.landmarks[size_t(i)] * 16);
    cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{polygon}, cv::Scalar(255), cv::LINE_8,
                 4);
    const int side = 2 * std::abs(grow) + 1;
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(side, side));
    if (grow > 0) cv::dilate(mask, mask, kernel);
    if (grow < 0) cv::erode(mask, mask, kernel);
    return mask;
}

cv::Mat PortraitTest::landmarkMask(const std::vector<int>& indices, int grow) {
    return TestPictures::landmarkMask(portrait.size(), face, indices, grow);
}

cv::Mat PortraitTest::disc(cv::Point2f centre, float radius) {
    cv::Mat mask(portrait.size(), CV_8UC1, cv::Scalar(0));
    cv::circle(mask, centre, cvRound(radius * face.eyeDistance), cv::Scalar(255), cv::FILLED);
    return mask;
}

double PortraitTest::meanChange(const cv::Mat& after, const cv::Mat& mask) {
    cv::Mat difference;
    cv::absdiff(portrait, after, difference);
    const cv::Scalar mean = cv::mean(difference, mask);
    return (mean[0] + mean[1] + mean[2]) / 3.0;
}

double PortraitTest::maxChange(const cv::Mat& after, const cv::Mat& mask) {
    return cv::norm(portrait, after, cv::NORM_INF, mask);
}

}  // namespace facelume
