#include "lipstick.h"

#include <gtest/gtest.h>

#include "test_pictures.h"

namespace facelume {
namespace {

using namespace facelume::test;

const std::vector<int> kMouthOpening = {60, 61, 62, 63, 64, 65, 66, 67};

class LipstickTest : public PortraitTest {
protected:
    // Lips alone, a few pixels inside their edges.
    static cv::Mat lips() {
        cv::Mat mask = landmarkMask(kOuterLips, -2);
        mask.setTo(0, landmarkMask(kMouthOpening, 3));
        return mask;
    }
};

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
    Lipstick lipstick(TestPictures::resourceFolder());
    lipstick.configure("#c41e3a", 1.f);
    ASSERT_TRUE(lipstick.active());
    const cv::Mat after = painted(lipstick);

    const cv::Mat lipMask = lips();
    ASSERT_GT(cv::countNonZero(lipMask), 300);
    EXPECT_GT(meanChange(after, lipMask), 20.0);
    EXPECT_GT(redness(after, lipMask), redness(portrait, lipMask) + 30);
    // Shading and highlights stay: the brightness still varies across the lips.
    EXPECT_GT(lumaSpread(after, lipMask), 0.5 * lumaSpread(portrait, lipMask));

    const cv::Mat teeth = landmarkMask(kMouthOpening, -3);
    ASSERT_GT(cv::countNonZero(teeth), 100) << "the portrait shows her teeth";
    EXPECT_LT(meanChange(after, teeth), 1.0);
    const cv::Point2f chin = face.landmarks[8] * 0.6f + face.landmarks[57] * 0.4f;
    EXPECT_EQ(maxChange(after, disc(chin, 0.15f)), 0.0);
    EXPECT_EQ(maxChange(after, ~landmarkMask(kOuterLips, 6)), 0.0);
}

TEST_F(LipstickTest, StaysOnTheLipsOfASmallSmilingFace) {
    // The smiling portrait at a quarter of its size: an eye distance of about 22 pixels.
    constexpr float kScale = 0.25f;
    cv::Mat small;
    cv::resize(portrait, small, cv::Size(), kScale, kScale, cv::INTER_AREA);
    Face smallFace = face;
    for (cv::Point2f& p : smallFace.landmarks)
        p = (p + cv::Point2f(0.5f, 0.5f)) * kScale - cv::Point2f(0.5f, 0.5f);
    smallFace.eyeDistance *= kScale;
    Lipstick lipstick(TestPictures::resourceFolder());
    lipstick.configure("red", 1.f);
    cv::Mat after = small.clone();
    lipstick.apply(after, {smallFace});

    // The lip polygon: pixels whose centre lies inside the outer lip line.
    cv::Mat lipPolygon(small.size(), CV_8UC1, cv::Scalar(0));
    std::vector<cv::Point> outline;
    for (int i : kOuterLips)
        outline.push_back(cv::Point(cvRound(smallFace.landmarks[i].x * 16),
                                    cvRound(smallFace.landmarks[i].y * 16)));
    cv::fillPoly(lipPolygon, std::vector<std::vector<cv::Point>>{outline}, cv::Scalar(255),
                 cv::LINE_8, 4);
    cv::Mat change;
    cv::absdiff(small, after, change);
    cv::transform(change, change, cv::Matx13f(1.f, 1.f, 1.f));
    const double inside = cv::sum(change & lipPolygon)[0];
    const double outside = cv::sum(change)[0] - inside;
    EXPECT_GT(inside, 0.0);
    EXPECT_LT(outside, 0.08 * (inside + outside));
}

TEST_F(LipstickTest, NamedAndHexColoursAreTheSame) {
    Lipstick byName(TestPictures::resourceFolder()), byHex(TestPictures::resourceFolder());
    byName.configure("Red", 0.8f);  // the table has red: "#c41e3a"
    byHex.configure("#C41E3A", 0.8f);
    ASSERT_TRUE(byName.active());
    ASSERT_TRUE(byHex.active());
    EXPECT_EQ(cv::norm(painted(byName), painted(byHex), cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace facelume
