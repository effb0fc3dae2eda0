#pragma once

// What the engine tests work on, in one place: the test pictures (scripts/fetch-test-images.sh
// names their sources) and frames made from them (letterboxed, in a grid, moved, noisy, in other
// lights, frames of the video clips), faces found in them by the engine's own detector and
// landmark fitter, a portrait fixture for the effects and standard error capture. A missing
// picture fails the calling test with a hint.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "effect.h"
#include "face.h"
#include "landmark_fitter.h"
#include "scratch_folder.h"

namespace facelume {

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
    // What moved() does to a point: shift, then zoom and turn (degrees, counter-clockwise on
    // the screen) about centre.
    static cv::Matx23d motion(cv::Point2f centre, cv::Point2f shift, double zoom, double degrees);
    // picture shifted, scaled about its centre and rotated (degrees), edges replicated.
    static cv::Mat moved(const cv::Mat& picture, cv::Point2f shift, double zoom, double degrees);
    // face's landmarks moved the same way about centre, as faceOf() hands them on.
    static Face moved(const Face& face, cv::Point2f shift, double zoom = 1, double degrees = 0,
                      cv::Point2f centre = {});
    // picture plus Gaussian noise of the given standard deviation, from seed.
    static cv::Mat noisy(const cv::Mat& picture, double sigma, int seed);

    enum class Light { Grey, Sepia, BlueFlash, Dim };
    // picture as a grey or sepia print, flash-lit with a blue cast, or dim with sensor noise.
    static cv::Mat relit(const cv::Mat& picture, Light light);
    // Frame number index (from 0) of a video clip in the test picture folder.
    static cv::Mat videoFrame(const std::string& name, int index);

    static std::string resourceFolder() { return FACELUME_TEST_RESOURCES; }
    // The engine's landmark fitter, loaded once per program.
    static const LandmarkFitter& fitter();
    // The largest face found afresh in picture (no tracking, no smoothing), fully present.
    static Face faceIn(const cv::Mat& picture);
    // A fully present face with roll and eye distance from the eye centres, as the tracker
    // hands faces on.
    static Face faceOf(const Landmarks& landmarks);
    // A mask of size filled inside the polygon of face's landmarks at indices (pixel centres
    // inside, to a sixteenth of a pixel), grown (positive) or shrunk by `grow` pixels.
    static cv::Mat landmarkMask(cv::Size size, const Face& face, const std::vector<int>& indices,
                                int grow = 0);
};

// The astronaut portrait at twice its size (eye distance about 87 pixels, a webcam face) and its
// face, found once per program, with measures of what an effect changed on it.
class PortraitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static cv::Mat painted(Effect& effect, const std::vector<Face>& faces = {face});
    // A filled mask from landmark indices, grown (positive) or shrunk by `grow` pixels.
    static cv::Mat landmarkMask(const std::vector<int>& indices, int grow = 0);
    // A disc of `radius` eye distances.
    static cv::Mat disc(cv::Point2f centre, float radius);
    // Mean absolute change per channel value over the mask, and the largest one.
    static double meanChange(const cv::Mat& after, const cv::Mat& mask);
    static double maxChange(const cv::Mat& after, const cv::Mat& mask = cv::Mat());

    static inline cv::Mat portrait;
    static inline Face face;
    static inline const std::vector<int> kRightEye = {36, 37, 38, 39, 40, 41};
    static inline const std::vector<int> kLeftEye = {42, 43, 44, 45, 46, 47};
    static inline const std::vector<int> kOuterLips = {48, 49, 50, 51, 52, 53,
                                                       54, 55, 56, 57, 58, 59};
};

// What `call` writes to standard error.
template <typename Call>
std::string stderrOf(Call call) {
    ::testing::internal::CaptureStderr();
    call();
    return ::testing::internal::GetCapturedStderr();
}

}  // namespace facelume
