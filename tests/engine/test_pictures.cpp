#include "test_pictures.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

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

}  // namespace facelume::test
