#pragma once

// The test pictures of the engine tests (scripts/fetch-test-images.sh names their sources) and
// the frames made from them: letterboxed, side by side, moved, noisy, mirrored, in other lights
// (grey, sepia, a blue flash, dim and noisy), frames of the video clips. A missing picture fails
// the calling test with a hint.

#include <string>
#include <vector>

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

    enum class Light { Grey, Sepia, BlueFlash, Dim };
    // picture as a grey or sepia print, flash-lit with a blue cast, or dim with sensor noise.
    static cv::Mat relit(const cv::Mat& picture, Light light);
    // pictures placed side by side, vertically centred, on a grey frame of size.
    static cv::Mat row(const std::vector<cv::Mat>& pictures, cv::Size size);
    // Frame number index (from 0) of a video clip in the test picture folder.
    static cv::Mat videoFrame(const std::string& name, int index);

    static std::string resourceFolder() { return FACELUME_TEST_RESOURCES; }
};

}  // namespace facelume::test
