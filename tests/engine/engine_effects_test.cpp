// What each of the engine's own effects does to a real portrait, measured on the output: less
// fine detail on the cheeks but sharp eyes and lips, brighter skin with the background left
// alone, eyes and jaw found again where the warp moved them, nothing painted without a face.

#include <gtest/gtest.h>

#include <cstdio>

#include <opencv2/imgproc.hpp>

#include "engine.h"
#include "face_detector.h"
#include "face_tracker.h"
#include "landmark_fitter.h"
#include "test_pictures.h"

namespace facelume {
namespace {

using test::TestPictures;

class EngineEffectsTest : public ::testing::Test {
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
        m_engine = std::make_unique<Engine>(DetectionWorker::Mode::Synchronous);
        std::string error;
        ASSERT_TRUE(m_engine->initialize(TestPictures::resourceFolder(), error)) << error;
        m_portrait = TestPictures::astronaut640();
        ASSERT_FALSE(m_portrait.empty());
        ASSERT_NE(s_fitter, nullptr);
    }

    // The frame after enough passes for the face to be found and fully faded in.
    cv::Mat run(const cv::Mat& frame, int passes = 8) {
        const unsigned char* out = nullptr;
        for (int i = 0; i < passes; ++i)
            out = m_engine->process(frame.cols, frame.rows, frame.data);
        EXPECT_NE(out, nullptr);
        return cv::Mat(frame.size(), CV_8UC3, const_cast<unsigned char*>(out)).clone();
    }

    // The landmarks of the largest face found afresh in frame (no tracking, no smoothing).
    static Landmarks fit(const cv::Mat& frame) {
        cv::Mat grey;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        FaceDetector detector;
        std::vector<Detection> found;
        detector.detect(grey, found);
        EXPECT_FALSE(found.empty());
        if (found.empty()) return {};
        const auto largest = std::max_element(found.begin(), found.end(), [](auto& a, auto& b) {
            return a.box.area() < b.box.area();
        });
        return s_fitter->fit(grey, largest->box);
    }

    static double distance(const Landmarks& l, int a, int b) {
        return cv::norm(l[size_t(a)] - l[size_t(b)]);
    }
    static double eyeHeight(const Landmarks& l) {
        return 0.5 * (distance(l, 37, 41) + distance(l, 38, 40) + distance(l, 43, 47) +
                      distance(l, 44, 46));
    }
    static double jawWidth(const Landmarks& l) {
        return (distance(l, 3, 13) + distance(l, 4, 12) + distance(l, 5, 11)) / 3.0;
    }

    // A square patch of the frame around a point, half the given size on each side.
    static cv::Rect patch(cv::Point2f centre, int half) {
        return cv::Rect(cvRound(centre.x) - half, cvRound(centre.y) - half, 2 * half, 2 * half);
    }
    // Energy of the finest detail: mean square of the Laplacian of the grey patch.
    static double detailEnergy(const cv::Mat& frame, const cv::Rect& where) {
        cv::Mat grey, laplacian;
        cv::cvtColor(frame(where), grey, cv::COLOR_BGR2GRAY);
        cv::Laplacian(grey, laplacian, CV_32F);
        return cv::mean(laplacian.mul(laplacian))[0];
    }
    // Edge strength: mean gradient magnitude of the grey patch.
    static double edgeStrength(const cv::Mat& frame, const cv::Rect& where) {
        cv::Mat grey, dx, dy, magnitude;
        cv::cvtColor(frame(where), grey, cv::COLOR_BGR2GRAY);
        cv::Sobel(grey, dx, CV_32F, 1, 0);
        cv::Sobel(grey, dy, CV_32F, 0, 1);
        cv::magnitude(dx, dy, magnitude);
        return cv::mean(magnitude)[0];
    }
    static cv::Rect around(const Landmarks& l, int first, int last, int margin) {
        std::vector<cv::Point2f> points(l.begin() + first, l.begin() + last + 1);
        const cv::Rect box = cv::boundingRect(points);
        return cv::Rect(box.x - margin, box.y - margin, box.width + 2 * margin,
                        box.height + 2 * margin);
    }
    static cv::Point2f cheek(const Landmarks& l) {
        // Below the right eye, beside the nose, above the mouth corner.
        return 0.5f * (l[41] + l[48]) + 0.25f * (l[2] - l[31]) * 0.5f;
    }

    static LandmarkFitter* s_fitter;
    std::unique_ptr<Engine> m_engine;
    cv::Mat m_portrait;
};

LandmarkFitter* EngineEffectsTest::s_fitter = nullptr;

TEST_F(EngineEffectsTest, SmoothingFlattensTheCheeksButKeepsEyesAndLipsSharp) {
    const Landmarks l = fit(m_portrait);
    m_engine->setSkinSmooth(1.f);
    const cv::Mat out = run(m_portrait);
    const cv::Rect cheekPatch = patch(cheek(l), 5);
    const double before = detailEnergy(m_portrait, cheekPatch);
    const double after = detailEnergy(out, cheekPatch);
    EXPECT_LT(after, 0.5 * before) << "cheek detail " << before << " -> " << after;
    EXPECT_GT(after, 0.0) << "some texture stays";
    std::printf("cheek detail energy %.1f -> %.1f\n", before, after);
    for (auto [first, last] : {std::pair{36, 41}, std::pair{42, 47}, std::pair{48, 59}}) {
        const cv::Rect part = around(l, first, last, 2);
        EXPECT_GT(edgeStrength(out, part), 0.85 * edgeStrength(m_portrait, part))
            << "landmarks " << first << ".." << last;
    }
    // Far from the face (the flag, the rocket) nothing changes.
    EXPECT_EQ(
        cv::norm(out(cv::Rect(0, 0, 150, 480)), m_portrait(cv::Rect(0, 0, 150, 480)), cv::NORM_INF),
        0.0);
}

TEST_F(EngineEffectsTest, WhiteningBrightensSkinWithoutCastOrClippingAndLeavesTheRest) {
    const Landmarks l = fit(m_portrait);
    m_engine->setSkinWhite(1.f);
    const cv::Mat out = run(m_portrait);
    // The skin between the eyes and the mouth.
    const cv::Rect cheekPatch(cv::Point(cvRound(l[41].x), cvRound(l[29].y)),
                              cv::Point(cvRound(l[46].x), cvRound(l[33].y)));
    cv::Mat beforeYcc, afterYcc;
    cv::cvtColor(m_portrait(cheekPatch), beforeYcc, cv::COLOR_BGR2YCrCb);
    cv::cvtColor(out(cheekPatch), afterYcc, cv::COLOR_BGR2YCrCb);
    const cv::Scalar before = cv::mean(beforeYcc), after = cv::mean(afterYcc);
    EXPECT_GT(after[0], before[0] + 8) << "luma " << before[0] << " -> " << after[0];
    EXPECT_NEAR(after[1], before[1], 3.0) << "red chroma";
    EXPECT_NEAR(after[2], before[2], 3.0) << "blue chroma";
    // No new saturated pixels on the face.
    const cv::Rect face = around(l, 0, 67, 0);
    cv::Mat saturatedBefore, saturatedAfter;
    cv::inRange(m_portrait(face), cv::Scalar(0, 0, 255), cv::Scalar(255, 255, 255),
                saturatedBefore);
    cv::inRange(out(face), cv::Scalar(0, 0, 255), cv::Scalar(255, 255, 255), saturatedAfter);
    EXPECT_LE(cv::countNonZero(saturatedAfter), cv::countNonZero(saturatedBefore) + 5);
    // The suit and the background outside the face are untouched.
    const cv::Rect suit(140, 380, 200, 100);
    EXPECT_EQ(cv::norm(out(suit), m_portrait(suit), cv::NORM_INF), 0.0);
    EXPECT_EQ(
        cv::norm(out(cv::Rect(0, 0, 150, 480)), m_portrait(cv::Rect(0, 0, 150, 480)), cv::NORM_INF),
        0.0);
}

TEST_F(EngineEffectsTest, EyeScaleAndFaceThinMoveTheLandmarksFoundAgain) {
    const Landmarks before = fit(m_portrait);
    struct Case {
        float eyes, thin;
    };
    run(m_portrait);
    for (Case c : {Case{1.f, 0.f}, Case{-1.f, 0.f}, Case{0.f, 1.f}, Case{0.f, -1.f}}) {
        m_engine->setEyeScale(c.eyes);
        m_engine->setFaceThin(c.thin);
        const Landmarks after = fit(run(m_portrait, 1));
        const double eyes = eyeHeight(after) / eyeHeight(before);
        const double eyeWidth = (distance(after, 36, 39) + distance(after, 42, 45)) /
                                (distance(before, 36, 39) + distance(before, 42, 45));
        const double jaw = jawWidth(after) / jawWidth(before);
        SCOPED_TRACE(testing::Message() << "eyes " << c.eyes << " thin " << c.thin << ": height x"
                                        << eyes << ", width x" << eyeWidth << ", jaw x" << jaw);
        std::printf("eye scale %+.0f, face thin %+.0f: eye width x%.3f, jaw width x%.3f\n", c.eyes,
                    c.thin, eyeWidth, jaw);
        if (c.eyes > 0) {
            EXPECT_GT(eyeWidth, 1.08);
            EXPECT_LT(eyeWidth, 1.5);
        } else if (c.eyes < 0) {
            EXPECT_LT(eyeWidth, 0.94);
            EXPECT_GT(eyeWidth, 0.6);
        } else {
            EXPECT_NEAR(eyeWidth, 1.0, 0.04);
        }
        if (c.thin > 0) {
            EXPECT_LT(jaw, 0.97);
            EXPECT_GT(jaw, 0.8);
        } else if (c.thin < 0) {
            EXPECT_GT(jaw, 1.03);
            EXPECT_LT(jaw, 1.2);
        } else {
            EXPECT_NEAR(jaw, 1.0, 0.02);
        }
    }
}

TEST_F(EngineEffectsTest, StickerSitsOnTheEyesAndFollowsTheMovingFace) {
    const Landmarks still = fit(m_portrait);
    const cv::Point2f eyes = 0.5f * (still[39] + still[42]);
    m_engine->setSticker("glasses");
    run(m_portrait);
    for (int i = 0; i <= 12; i += 3) {
        const cv::Point2f shift(5.f * i, -2.f * i);
        const double degrees = 0.8 * i;
        const cv::Mat frame = TestPictures::moved(m_portrait, shift, 1.0, degrees);
        const cv::Mat out = run(frame, 1);
        // The centre of the changed pixels is the glasses' centre: between the moved eyes.
        cv::Mat difference, changed;
        cv::absdiff(out, frame, difference);
        cv::cvtColor(difference, changed, cv::COLOR_BGR2GRAY);
        cv::threshold(changed, changed, 20, 255, cv::THRESH_BINARY);
        const cv::Moments m = cv::moments(changed, true);
        ASSERT_GT(m.m00, 200) << "frame " << i << ": the glasses are drawn";
        const cv::Point2f centre(float(m.m10 / m.m00), float(m.m01 / m.m00));
        const cv::Mat transform = cv::getRotationMatrix2D({320, 240}, degrees, 1.0);
        const cv::Point2f expected(
            float(transform.at<double>(0, 0) * eyes.x + transform.at<double>(0, 1) * eyes.y +
                  transform.at<double>(0, 2) + shift.x),
            float(transform.at<double>(1, 0) * eyes.x + transform.at<double>(1, 1) * eyes.y +
                  transform.at<double>(1, 2) + shift.y));
        EXPECT_LT(cv::norm(centre - expected), 8.0) << "frame " << i;
    }
}

TEST_F(EngineEffectsTest, WithoutAFaceOnlyFaceFreeEffectsActAndNothingStaysPainted) {
    const cv::Mat coffee =
        TestPictures::letterboxed(TestPictures::load("coffee.png"), cv::Size(640, 480));
    m_engine->setSkinSmooth(1.f);
    m_engine->setSkinWhite(1.f);
    const cv::Mat faceFree = run(coffee, 3);
    m_engine->setEyeScale(1.f);
    m_engine->setFaceThin(1.f);
    m_engine->setLipstick("red", 1.f);
    m_engine->setCheeks("pink", 1.f);
    m_engine->setEyebrow("brown", 1.f);
    m_engine->setSticker("glasses");
    EXPECT_EQ(cv::norm(run(coffee, 3), faceFree, cv::NORM_INF), 0.0);

    // With a face the face effects show; in the first frame without it, the frame is as if it
    // had never been there.
    EXPECT_GT(cv::norm(run(m_portrait), m_portrait, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(run(coffee, 1), faceFree, cv::NORM_INF), 0.0);
    EXPECT_TRUE(m_engine->faces().empty());
}

}  // namespace
}  // namespace facelume
