// What each of the engine's own effects does to a real portrait, measured on the output: fewer
// blemishes on the cheeks but their pores kept and eyes and lips sharp, brighter skin with the
// background left alone, eyes and jaw found again where the warp moved them while brows and
// glasses' rims stay, nothing painted without a face, values past a control's range acting as
// its ends.

#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "engine.h"
#include "face_shape.h"
#include "face_warp.h"
#include "skin_mask.h"
#include "skin_smoothing.h"
#include "skin_whitening.h"
#include "test_pictures.h"

namespace facelume {
namespace {

class EngineEffectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_engine.initialize(TestPictures::resourceFolder(), error)) << error;
        m_portrait = TestPictures::astronaut640();
        ASSERT_FALSE(m_portrait.empty());
    }

    // The frame after enough passes for the face to be found and fully faded in.
    cv::Mat run(const cv::Mat& frame, int passes = 8) {
        const unsigned char* out = nullptr;
        for (int i = 0; i < passes; ++i) out = m_engine.process(frame.cols, frame.rows, frame.data);
        EXPECT_NE(out, nullptr);
        return cv::Mat(frame.size(), CV_8UC3, const_cast<unsigned char*>(out)).clone();
    }

    // Pixels of out that differ from in outside every found face: the box of its landmarks with
    // the forehead above the brows, and a margin of a third of the eye distance for feathering.
    double changeOutsideFaces(const cv::Mat& out, const cv::Mat& in) const {
        cv::Mat outside(out.size(), CV_8UC1, cv::Scalar(255));
        for (const Face& f : m_engine.faces()) {
            std::vector<cv::Point2f> points(f.landmarks.begin(), f.landmarks.end());
            const cv::Point2f up = (f.landmarks[27] - f.landmarks[8]) * 0.5f;
            for (int i = 17; i <= 26; ++i) points.push_back(f.landmarks[size_t(i)] + up);
            const cv::Rect box = grown(cv::boundingRect(points), cvCeil(f.eyeDistance / 3.f));
            outside(box & cv::Rect(0, 0, out.cols, out.rows)).setTo(0);
        }
        return cv::norm(out, in, cv::NORM_L1, outside);
    }

    // The widths of both eyes and of the jaw.
    static cv::Vec2d widths(const Landmarks& l) {
        const auto d = [&l](int a, int b) { return cv::norm(l[size_t(a)] - l[size_t(b)]); };
        return {d(36, 39) + d(42, 45), d(3, 13) + d(4, 12) + d(5, 11)};
    }
    // Energy of the detail at one scale: mean square of the Laplacian of the grey patch after a
    // Gaussian blur of sigma (0: the finest detail, pores; 2: blemishes of a few pixels).
    static double detailEnergy(const cv::Mat& frame, const cv::Rect& where, double sigma = 0) {
        cv::Mat grey, laplacian;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        grey.convertTo(grey, CV_32F);
        if (sigma > 0) cv::GaussianBlur(grey, grey, cv::Size(), sigma);
        cv::Laplacian(grey(where), laplacian, CV_32F);
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
        const std::vector<cv::Point2f> points(l.begin() + first, l.begin() + last + 1);
        return grown(cv::boundingRect(points), margin);
    }
    static cv::Rect grown(const cv::Rect& box, int margin) {
        return box - cv::Point(margin, margin) + cv::Size(2 * margin, 2 * margin);
    }

    Engine m_engine{DetectionWorker::Mode::Synchronous};
    cv::Mat m_portrait;
};

TEST_F(EngineEffectsTest, SmoothingFlattensTheCheeksButKeepsEyesAndLipsSharp) {
    const Landmarks l = TestPictures::faceIn(m_portrait).landmarks;
    m_engine.setSkinSmooth(1.f);
    const cv::Mat out = run(m_portrait);
    // Below the right eye, beside the nose, above the mouth corner: a patch of 10 x 10 pixels.
    const cv::Point2f cheek = 0.5f * (l[41] + l[48]) + 0.125f * (l[2] - l[31]);
    const cv::Rect cheekPatch(cvRound(cheek.x) - 5, cvRound(cheek.y) - 5, 10, 10);
    const double blemishes =
        detailEnergy(out, cheekPatch, 2) / detailEnergy(m_portrait, cheekPatch, 2);
    const double pores = detailEnergy(out, cheekPatch) / detailEnergy(m_portrait, cheekPatch);
    EXPECT_LT(blemishes, 0.6);
    // Not plastic: much of the finest texture stays.
    EXPECT_GT(pores, 0.5);
    for (auto [first, last] : {std::pair{36, 41}, std::pair{42, 47}, std::pair{48, 59}}) {
        const cv::Rect part = around(l, first, last, 2);
        EXPECT_GT(edgeStrength(out, part), 0.85 * edgeStrength(m_portrait, part))
            << "landmarks " << first << ".." << last;
    }
    EXPECT_EQ(changeOutsideFaces(out, m_portrait), 0.0);
}

TEST_F(EngineEffectsTest, WarpStopsShortOfBrowsAndRimsAndWarpsFacesApartEachAsIfAlone) {
    const Face f = TestPictures::faceIn(m_portrait);
    for (const float value : {1.f, -1.f}) {
        FaceWarp warp;
        warp.setEyeScale(value);
        cv::Mat frame = m_portrait.clone();
        warp.apply(frame, {f});
        // Each eye ringed by a lens outline (as wide as 0.9 eye distances, as high as 0.64),
        // plus the brows: where the warp draws these points tells how far they moved.
        Face probes = f;
        const cv::Point2f along(std::cos(f.roll), std::sin(f.roll)), down(-along.y, along.x);
        for (int i = 0; i < 48; ++i) {
            if (i >= 17 && i <= 26) continue;
            const float angle = float(CV_2PI) * float(i % 24) / 24.f;
            const cv::Point2f eye =
                i < 24 ? FaceShape::rightEyeCentre(f) : FaceShape::leftEyeCentre(f);
            probes.landmarks[size_t(i)] = eye + f.eyeDistance * (0.45f * std::cos(angle) * along +
                                                                 0.32f * std::sin(angle) * down);
        }
        std::vector<Face> moved;
        warp.moveLandmarks({probes}, moved);
        double furthest = 0;
        for (int i = 0; i < 48; ++i)
            furthest = std::max(furthest, double(cv::norm(moved[0].landmarks[size_t(i)] -
                                                          probes.landmarks[size_t(i)])));
        EXPECT_LT(furthest, 0.3) << "eye scale " << value;
    }

    const Face right = TestPictures::moved(f, {float(m_portrait.cols), 0});
    cv::Mat pair;
    cv::hconcat(m_portrait, m_portrait, pair);
    FaceWarp warp;
    warp.setEyeScale(1.f);
    warp.setFaceThin(1.f);
    cv::Mat alone = m_portrait.clone();
    warp.apply(alone, {f});
    warp.apply(pair, {f, right});
    EXPECT_GT(cv::norm(alone, m_portrait, cv::NORM_INF), 50.0);
    const cv::Rect half(cv::Point(0, 0), m_portrait.size());
    EXPECT_LE(cv::norm(pair(half), alone, cv::NORM_INF), 2.0);
    EXPECT_LE(cv::norm(pair(half + cv::Point(m_portrait.cols, 0)), alone, cv::NORM_INF), 2.0);
}

// The skin effects reuse their working images across frames; what a larger face left in them
// must not reach the next frame (filters on views read past the view's edge unless isolated).
TEST_F(EngineEffectsTest, SkinEffectsDependOnlyOnTheCurrentFrame) {
    const cv::Mat large =
        TestPictures::letterboxed(TestPictures::load("grace_hopper.jpg"), m_portrait.size());
    const std::vector<Face> largeFaces{TestPictures::faceIn(large)},
        faces{TestPictures::faceIn(m_portrait)};
    struct SkinEffects {
        SkinMask mask;
        SkinSmoothing smoothing{mask};
        SkinWhitening whitening{mask};
        cv::Mat apply(cv::Mat frame, const std::vector<Face>& faces) {
            smoothing.setStrength(1.f);
            whitening.setStrength(1.f);
            mask.update(frame, faces);
            smoothing.apply(frame, faces);
            whitening.apply(frame, faces);
            return frame;
        }
    } fresh, used;
    used.apply(large.clone(), largeFaces);
    const cv::Mat expected = fresh.apply(m_portrait.clone(), faces);
    EXPECT_EQ(cv::norm(used.apply(m_portrait.clone(), faces), expected, cv::NORM_INF), 0.0);
}

TEST_F(EngineEffectsTest, WhiteningBrightensSkinWithoutCastOrClippingAndLeavesTheRest) {
    const Landmarks l = TestPictures::faceIn(m_portrait).landmarks;
    m_engine.setSkinWhite(1.f);
    // Only the faces change, also while the face fades in.
    EXPECT_EQ(changeOutsideFaces(run(m_portrait, 1), m_portrait), 0.0);
    const cv::Mat out = run(m_portrait);
    EXPECT_EQ(changeOutsideFaces(out, m_portrait), 0.0);
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
    const auto redClipped = [&](const cv::Mat& frame) {
        cv::Mat red;
        cv::extractChannel(frame(face), red, 2);
        return cv::countNonZero(red == 255);
    };
    EXPECT_LE(redClipped(out), redClipped(m_portrait) + 5);
}

TEST_F(EngineEffectsTest, EyeScaleAndFaceThinMoveTheLandmarksFoundAgain) {
    const cv::Vec2d before = widths(TestPictures::faceIn(m_portrait).landmarks);
    // The controls, and the range of eye width and jaw width (as parts of what they were).
    struct Case {
        float eyes, thin;
        double eyesLow, eyesHigh, jawLow, jawHigh;
    };
    run(m_portrait);
    for (const Case c : {Case{1, 0, 1.08, 1.5, 0.98, 1.02}, Case{-1, 0, 0.6, 0.94, 0.98, 1.02},
                         Case{0, 1, 0.96, 1.04, 0.8, 0.97}, Case{0, -1, 0.96, 1.04, 1.03, 1.2}}) {
        m_engine.setEyeScale(c.eyes);
        m_engine.setFaceThin(c.thin);
        const cv::Mat out = run(m_portrait, 1);
        const cv::Vec2d after = widths(TestPictures::faceIn(out).landmarks);
        const double eyeWidth = after[0] / before[0], jaw = after[1] / before[1];
        SCOPED_TRACE(testing::Message() << "eyes " << c.eyes << " thin " << c.thin);
        EXPECT_GT(eyeWidth, c.eyesLow);
        EXPECT_LT(eyeWidth, c.eyesHigh);
        EXPECT_GT(jaw, c.jawLow);
        EXPECT_LT(jaw, c.jawHigh);
        // The collar of the suit and everything else outside the face stay.
        EXPECT_EQ(changeOutsideFaces(out, m_portrait), 0.0);
    }
}

TEST_F(EngineEffectsTest, WithoutAFaceOnlyFaceFreeEffectsActAndNothingStaysPainted) {
    const cv::Mat coffee =
        TestPictures::letterboxed(TestPictures::load("coffee.png"), cv::Size(640, 480));
    m_engine.setSticker("glasses");
    EXPECT_GT(cv::norm(run(m_portrait), m_portrait, cv::NORM_INF), 0.0) << "the sticker shows";
    m_engine.setSkinSmooth(1.f);
    m_engine.setSkinWhite(1.f);
    const cv::Mat faceFree = run(coffee, 3);
    EXPECT_EQ(cv::norm(faceFree, coffee, cv::NORM_INF), 0.0) << "skin effects belong to faces";
    m_engine.setEyeScale(1.f);
    m_engine.setFaceThin(1.f);
    m_engine.setLipstick("red", 1.f);
    m_engine.setCheeks("pink", 1.f);
    m_engine.setEyebrow("brown", 1.f);
    EXPECT_EQ(cv::norm(run(coffee, 3), faceFree, cv::NORM_INF), 0.0);

    // With a face the face effects show; in the first frame without it, the frame is as if it
    // had never been there.
    EXPECT_GT(cv::norm(run(m_portrait), m_portrait, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(run(coffee, 1), faceFree, cv::NORM_INF), 0.0);
    EXPECT_TRUE(m_engine.faces().empty());
}

// The ranges of docs/engine.md: eye scale and face thin from -1, the others from 0, all to 1.
// The engine clamps to them, the effects take what they get: every control at one end and every
// one past it give the same frame.
TEST_F(EngineEffectsTest, ValuesPastARangeActAsItsEnds) {
    const auto setAll = [this](float value, float warp) {
        m_engine.setSkinWhite(value);
        m_engine.setSkinSmooth(value);
        m_engine.setEyeScale(warp);
        m_engine.setFaceThin(warp);
        m_engine.setFilter("warm", value);
        m_engine.setLipstick("red", value);
        m_engine.setCheeks("pink", value);
        m_engine.setEyebrow("darkbrown", value);
    };
    run(m_portrait);
    for (const float end : {-1.f, 1.f}) {
        setAll(std::max(end, 0.f), end);
        const cv::Mat atEnd = run(m_portrait, 1);
        setAll(end * 1e9f, end * 1e9f);
        EXPECT_EQ(cv::norm(run(m_portrait, 1), atEnd, cv::NORM_INF), 0.0) << "past " << end;
    }
}

}  // namespace
}  // namespace facelume
