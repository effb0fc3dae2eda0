#pragma once

// The test pictures of the engine tests and the frames made from them: the astronaut portrait
// letterboxed into a frame size, several portraits side by side, a face-free picture, and moved
// or noisy versions for sequences. A missing picture fails the calling test with a hint.

#include <string>

#include <opencv2/core.hpp>

namespace facelume::test {

class TestPictures {
public:
    // The picture (BGR) from the test picture folder, or an empty Mat after a test failure.
    static cv::Mat load(const std::string& name);
    // The picture scaled to fit size, centred on a grey background.
    static cv::Mat letterboxed(const cv::Mat& picture, cv::Size size);
    // The astronaut in a 640x480 frame: one face of about 87 pixels and a shoulder badge that
    // the face detector takes for a face.
    static cv::Mat astronaut640();
    // count copies of picture scaled to cell and laid out in a grid of columns.
    static cv::Mat grid(const cv::Mat& picture, cv::Size cell, int count, int columns);
    // picture shifted, scaled about its centre and rotated (degrees), edges replicated.
    static cv::Mat moved(const cv::Mat& picture, cv::Point2f shift, double zoom, double degrees);
    // picture plus Gaussian noise of the given standard deviation, from seed.
    static cv::Mat noisy(const cv::Mat& picture, double sigma, int seed);

    static std::string resourceFolder() { return FACELUME_TEST_RESOURCES; }
};

}  // namespace facelume::test
