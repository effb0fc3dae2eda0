#include "lipstick.h"

#include <gtest/gtest.h>

#include "test_pictures.h"

namespace facelume {
namespace {

using namespace facelume::test;

using LipstickTest = PortraitTest;

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
