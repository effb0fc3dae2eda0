#include "lipstick.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "looks_test_support.h"
#include "portrait_faces.h"

namespace facelume {
namespace {

using namespace facelume::testing;

const std::vector<int> kOuterLips = {48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59};
const std::vector<int> kMouthOpening = {60, 61, 62, 63, 64, 65, 66, 67};

class LipstickTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_portrait = largeAstronaut();
        const std::vector<Face> faces = astronautFaces(s_portrait);
        ASSERT_FALSE(faces.empty());
        s_face = faces.front();
    }
    cv::Mat painted(Lipstick& lipstick, const std::vector<Face>& faces) const {
        cv::Mat frame = s_portrait.clone();
        lipstick.apply(frame, faces);
        return frame;
    }
    // Lips alone, a few pixels inside their edges.
    cv::Mat lips() const {
        cv::Mat mask = landmarkMask(s_portrait.size(), s_face, kOuterLips, -2);
        mask.setTo(0, landmarkMask(s_portrait.size(), s_face, kMouthOpening, 3));
        return mask;
    }

    static cv::Mat s_portrait;
    static Face s_face;
};

cv::Mat LipstickTest::s_portrait;
Face LipstickTest::s_face;

double redness(const cv::Mat& bgr, const cv::Mat& mask) {
    const cv::Scalar mean = cv::mean(bgr, mask);
    return mean[2] - (mean[0] + mean[1]) / 2;
}

double lumaSpread(const cv::Mat& bgr, const cv::Mat& mask) {
    cv::Mat grey;
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    cv::Scalar mean, spread;
    cv::meanStdDev(grey, mean, spread, mask);
    return spread[0];
}

TEST_F(LipstickTest, ColoursTheLipsNotTheTeethOrTheChin) {
    Lipstick lipstick(kBuiltResources);
    lipstick.configure("#c41e3a", 1.f);
    ASSERT_TRUE(lipstick.active());
    const cv::Mat after = painted(lipstick, {s_face});

    const cv::Mat lipMask = lips();
    ASSERT_GT(cv::countNonZero(lipMask), 300);
    EXPECT_GT(meanChange(s_portrait, after, lipMask), 20.0);
    EXPECT_GT(redness(after, lipMask), redness(s_portrait, lipMask) + 30);
    // Shading and highlights stay: the brightness still varies across the lips.
    EXPECT_GT(lumaSpread(after, lipMask), 0.5 * lumaSpread(s_portrait, lipMask));

    const cv::Mat teeth = landmarkMask(s_portrait.size(), s_face, kMouthOpening, -3);
    ASSERT_GT(cv::countNonZero(teeth), 100) << "the portrait shows her teeth";
    EXPECT_LT(meanChange(s_portrait, after, teeth), 1.0);

    const float scale = s_face.eyeDistance;
    const cv::Point2f chin = s_face.landmarks[8] * 0.6f + s_face.landmarks[57] * 0.4f;
    const cv::Mat chinMask = discMask(s_portrait.size(), chin, 0.15f * scale);
    EXPECT_EQ(maxChange(s_portrait, after, chinMask), 0.0);
    cv::Mat farFromLips = landmarkMask(s_portrait.size(), s_face, kOuterLips, 6);
    cv::bitwise_not(farFromLips, farFromLips);
    EXPECT_EQ(maxChange(s_portrait, after, farFromLips), 0.0);
}

TEST_F(LipstickTest, StrengthPresenceAndEveryFaceCount) {
    Lipstick lipstick(kBuiltResources);
    const cv::Mat lipMask = lips();
    lipstick.configure("#c41e3a", 1.f);
    const double full = meanChange(s_portrait, painted(lipstick, {s_face}), lipMask);
    lipstick.configure("#c41e3a", 0.5f);
    const double half = meanChange(s_portrait, painted(lipstick, {s_face}), lipMask);
    EXPECT_NEAR(half, full / 2, full * 0.1);
    lipstick.configure("#c41e3a", 5.f);  // clamped
    EXPECT_NEAR(meanChange(s_portrait, painted(lipstick, {s_face}), lipMask), full, 0.01);

    Face fading = s_face;
    fading.presence = 0.5f;
    EXPECT_NEAR(meanChange(s_portrait, painted(lipstick, {fading}), lipMask), half, full * 0.05);
    fading.presence = 0.f;
    EXPECT_EQ(cv::norm(painted(lipstick, {fading}), s_portrait, cv::NORM_INF), 0.0);

    // A second face further right gets its lipstick too.
    Face moved = s_face;
    for (cv::Point2f& p : moved.landmarks) p.x += 300;
    const cv::Mat both = painted(lipstick, {s_face, moved});
    cv::Mat movedLips;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 300, 0, 1, 0);
    cv::warpAffine(lipMask, movedLips, shift, lipMask.size(), cv::INTER_NEAREST);
    EXPECT_GT(meanChange(s_portrait, both, movedLips), 10.0);

    for (const float off : {0.f, -0.5f}) {
        lipstick.configure("#c41e3a", off);
        EXPECT_FALSE(lipstick.active());
    }
}

TEST_F(LipstickTest, NamedAndHexColoursAndUnknownNames) {
    Lipstick byName(kBuiltResources), byHex(kBuiltResources);
    byName.configure("Red", 0.8f);  // the table has red: "#c41e3a"
    byHex.configure("#C41E3A", 0.8f);
    ASSERT_TRUE(byName.active());
    ASSERT_TRUE(byHex.active());
    EXPECT_EQ(cv::norm(painted(byName, {s_face}), painted(byHex, {s_face}), cv::NORM_INF), 0.0);
    byHex.configure("#1e3ac4", 0.8f);  // a blue: the lips turn bluer
    const cv::Mat blue = painted(byHex, {s_face});
    EXPECT_GT(cv::mean(blue, lips())[0], cv::mean(s_portrait, lips())[0] + 20);

    for (const char* unknown : {"ultraviolet", "#12345g", "#1234", "c41e3a"}) {
        byName.configure("red", 1.f);
        ::testing::internal::CaptureStderr();
        byName.configure(unknown, 1.f);
        const std::string output = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(byName.active()) << unknown;
        EXPECT_EQ(lineCount(output), 1) << output;
        EXPECT_NE(output.find(std::string("\"") + unknown + "\""), std::string::npos) << output;
        EXPECT_NE(output.find("#rrggbb"), std::string::npos) << output;
        EXPECT_NE(output.find("berry"), std::string::npos) << output;
        EXPECT_EQ(cv::norm(painted(byName, {s_face}), s_portrait, cv::NORM_INF), 0.0);
    }
    ::testing::internal::CaptureStderr();
    byName.configure(nullptr, 1.f);
    EXPECT_FALSE(byName.active());
    byName.configure("", 1.f);
    EXPECT_FALSE(byName.active());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace facelume
