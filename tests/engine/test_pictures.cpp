#include "test_pictures.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace facelume::test {

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

cv::Mat TestPictures::moved(const cv::Mat& picture, cv::Point2f shift, double zoom,
                            double degrees) {
    const cv::Point2f centre(picture.cols / 2.f, picture.rows / 2.f);
    cv::Mat transform = cv::getRotationMatrix2D(centre, degrees, zoom);
    transform.at<double>(0, 2) += shift.x;
    transform.at<double>(1, 2) += shift.y;
    cv::Mat out;
    cv::warpAffine(picture, out, transform, picture.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return out;
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

cv::Mat TestPictures::row(const std::vector<cv::Mat>& pictures, cv::Size size) {
    cv::Mat frame(size, CV_8UC3, cv::Scalar(60, 60, 60));
    int x = 0;
    for (const cv::Mat& picture : pictures) {
        const cv::Rect place(x, (size.height - picture.rows) / 2, picture.cols, picture.rows);
        EXPECT_TRUE((place & cv::Rect(cv::Point(0, 0), size)) == place)
            << "pictures wider than the frame";
        picture.copyTo(frame(place & cv::Rect(cv::Point(0, 0), size)));
        x += picture.cols;
    }
    return frame;
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

}  // namespace facelume::test
