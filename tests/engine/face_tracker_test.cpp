// Face tracking on real pictures: which faces count, how many at once, how still the landmarks
// stay on a noisy still picture, how they follow motion, and how presence fades in and out.

#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "engine.h"
#include "face_tracker.h"
#include "landmark_fitter.h"
#include "test_pictures.h"

namespace facelume {
namespace {

using test::TestPictures;

class FaceTrackerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_fitter = new LandmarkFitter;
        std::string error;
        ASSERT_TRUE(
            s_fitter->load(TestPictures::resourceFolder() + "/" + Engine::kModelFile, error))
            << error;
    }
    static void TearDownTestSuite() {
        delete s_fitter;
        s_fitter = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(s_fitter && s_fitter->loaded());
        m_tracker = std::make_unique<FaceTracker>(*s_fitter, DetectionWorker::Mode::Synchronous);
    }

    const std::vector<Face>& track(const cv::Mat& frame) {
        cv::cvtColor(frame, m_grey, cv::COLOR_BGR2GRAY);
        m_tracker->update(frame, m_grey);
        return m_tracker->faces();
    }

    const std::vector<Face>& trackFor(const cv::Mat& frame, int frames) {
        for (int i = 0; i + 1 < frames; ++i) track(frame);
        return track(frame);
    }

    static cv::Point2f eyeCentre(const Face& face, size_t first) {
        cv::Point2f sum(0, 0);
        for (size_t i = first; i < first + 6; ++i) sum += face.landmarks[i];
        return sum / 6.f;
    }

    static LandmarkFitter* s_fitter;
    std::unique_ptr<FaceTracker> m_tracker;
    cv::Mat m_grey;
};

LandmarkFitter* FaceTrackerTest::s_fitter = nullptr;

TEST_F(FaceTrackerTest, FindsTheAstronautButNotHerShoulderBadgeAndNothingInAFaceFreePicture) {
    const cv::Mat frame = TestPictures::astronaut640();
    const std::vector<Face>& faces = trackFor(frame, FaceTracker::kFadeFrames + 1);
    ASSERT_EQ(faces.size(), 1u) << "the badge on the shoulder must not count as a face";
    const Face& face = faces[0];
    EXPECT_FLOAT_EQ(face.presence, 1.f);
    // Her eyes, measured by hand on this frame: about (271, 95) and (311, 97).
    EXPECT_NEAR(eyeCentre(face, 36).x, 271, 4);
    EXPECT_NEAR(eyeCentre(face, 36).y, 95, 4);
    EXPECT_NEAR(eyeCentre(face, 42).x, 311, 4);
    EXPECT_NEAR(face.eyeDistance, 40, 4);
    EXPECT_NEAR(face.roll, 0.05, 0.1);

    m_tracker->reset();
    const cv::Mat coffee = TestPictures::letterboxed(TestPictures::load("coffee.png"), {640, 480});
    EXPECT_TRUE(trackFor(coffee, 12).empty());
}

TEST_F(FaceTrackerTest, TracksTwoAstronautsFourPortraitsAndAnEightyPixelFace) {
    // Two copies of the astronaut side by side: two faces, and neither badge.
    const cv::Mat astronaut = TestPictures::load("astronaut.png");
    cv::Mat two;
    cv::hconcat(astronaut, astronaut, two);
    const std::vector<Face>& pair = trackFor(two, FaceTracker::kFadeFrames + 1);
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_LT(std::min(eyeCentre(pair[0], 36).x, eyeCentre(pair[1], 36).x), 512.f);
    EXPECT_GT(std::max(eyeCentre(pair[0], 36).x, eyeCentre(pair[1], 36).x), 512.f);
    for (const Face& face : pair) EXPECT_LT(eyeCentre(face, 36).y, 150.f) << "not the badge";

    m_tracker->reset();
    // Four portraits of 256x300 (faces of about 110 pixels) in one 512x600 frame.
    const cv::Mat hopper = TestPictures::load("grace_hopper.jpg");
    const cv::Mat four = TestPictures::grid(hopper, cv::Size(256, 300), 4, 2);
    const std::vector<Face>& faces = trackFor(four, FaceTracker::kFadeFrames + 1);
    ASSERT_EQ(faces.size(), 4u);
    for (const Face& face : faces) {
        EXPECT_FLOAT_EQ(face.presence, 1.f);
        EXPECT_GT(face.eyeDistance, 25.f);
    }

    // A face of about 80 pixels in a 640x480 frame (the portrait scaled to 0.38).
    m_tracker->reset();
    cv::Mat small;
    cv::resize(hopper, small, cv::Size(), 0.38, 0.38, cv::INTER_AREA);
    cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(90, 100, 110));
    small.copyTo(frame(cv::Rect(400, 150, small.cols, small.rows)));
    EXPECT_EQ(trackFor(frame, FaceTracker::kFadeFrames + 1).size(), 1u);
}

TEST_F(FaceTrackerTest, LandmarksOfAStillNoisyFaceStayWithinAPixel) {
    const cv::Mat frame = TestPictures::astronaut640();
    constexpr int kWarmUp = 10, kMeasured = 20;
    for (int i = 0; i < kWarmUp; ++i) track(TestPictures::noisy(frame, 6.0, i));
    std::vector<Landmarks> seen;
    for (int i = 0; i < kMeasured; ++i) {
        const std::vector<Face>& faces = track(TestPictures::noisy(frame, 6.0, kWarmUp + i));
        ASSERT_EQ(faces.size(), 1u);
        seen.push_back(faces[0].landmarks);
    }
    // Root mean square distance of every point from its own average over the sequence.
    double squares = 0;
    for (size_t p = 0; p < 68; ++p) {
        cv::Point2f average(0, 0);
        for (const Landmarks& l : seen) average += l[p];
        average /= float(seen.size());
        for (const Landmarks& l : seen) {
            const cv::Point2f d = l[p] - average;
            squares += d.dot(d);
        }
    }
    const double jitter = std::sqrt(squares / (68.0 * seen.size()));
    EXPECT_LT(jitter, 1.0);
    std::printf("landmark jitter on a still noisy face: %.3f px\n", jitter);
}

TEST_F(FaceTrackerTest, FollowsMotionAndFadesOutWhenTheFaceIsGone) {
    const cv::Mat frame = TestPictures::astronaut640();
    trackFor(frame, FaceTracker::kFadeFrames + 1);
    // Shifts of 6 pixels a frame with a slow zoom and turn: the eyes follow within a few pixels.
    for (int i = 1; i <= 15; ++i) {
        const cv::Point2f shift(6.f * i, 2.f * i);
        const std::vector<Face>& faces =
            track(TestPictures::moved(frame, shift, 1.0 + 0.01 * i, 0.5 * i));
        ASSERT_EQ(faces.size(), 1u) << "frame " << i;
        EXPECT_FLOAT_EQ(faces[0].presence, 1.f);
        if (i == 15) {
            // Where the moved frame has the right eye (271, 95) of the still frame.
            cv::Mat transform = cv::getRotationMatrix2D({320, 240}, 0.5 * i, 1.0 + 0.01 * i);
            const cv::Point2f expected(
                float(transform.at<double>(0, 0) * 271 + transform.at<double>(0, 1) * 95 +
                      transform.at<double>(0, 2) + shift.x),
                float(transform.at<double>(1, 0) * 271 + transform.at<double>(1, 1) * 95 +
                      transform.at<double>(1, 2) + shift.y));
            EXPECT_LT(cv::norm(eyeCentre(faces[0], 36) - expected), 6.0);
        }
    }
    // The face leaves: presence falls frame by frame and the face is gone after the fade.
    const cv::Mat empty(480, 640, CV_8UC3, cv::Scalar(120, 120, 120));
    float previous = 1.f;
    for (int i = 0; i < FaceTracker::kFadeFrames - 1; ++i) {
        const std::vector<Face>& faces = track(empty);
        ASSERT_EQ(faces.size(), 1u);
        EXPECT_LT(faces[0].presence, previous);
        previous = faces[0].presence;
    }
    EXPECT_TRUE(track(empty).empty());
}

}  // namespace
}  // namespace facelume
