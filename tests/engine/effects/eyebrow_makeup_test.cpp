#include "eyebrow_makeup.h"

#include <gtest/gtest.h>

#include "test_pictures.h"

namespace facelume {
namespace {

using namespace facelume::test;

using EyebrowMakeupTest = PortraitTest;

double meanLuma(const cv::Mat& bgr, const cv::Mat& mask) {
    cv::Mat grey;
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    return cv::mean(grey, mask)[0];
}

TEST_F(EyebrowMakeupTest, DarkensAndTintsTheBrowsOnly) {
    const auto& p = face.landmarks;
    EyebrowMakeup brows(TestPictures::resourceFolder());
    brows.configure("darkbrown", 1.f);
    ASSERT_TRUE(brows.active());
    const cv::Mat after = painted(brows);

    for (const int middle : {19, 24}) {
        const cv::Mat brow = disc(p[middle], 0.05f);
        EXPECT_LT(meanLuma(after, brow), meanLuma(portrait, brow) - 15) << "brow at " << middle;
        // Above the brow on the forehead nothing changes.
        EXPECT_EQ(maxChange(after, disc(p[middle] - cv::Point2f(0, 0.4f * face.eyeDistance), 0.1f)),
                  0.0);
    }
    // Nor between the inner ends of the brows, nor on the eyes.
    EXPECT_EQ(maxChange(after, disc(p[27] - cv::Point2f(0, 0.05f * face.eyeDistance), 0.08f)), 0.0);
    EXPECT_EQ(maxChange(after, landmarkMask(kRightEye, 1)), 0.0);
    EXPECT_EQ(maxChange(after, landmarkMask(kLeftEye, 1)), 0.0);

    // A stronger colour tints: blue brows are bluer than brown ones.
    brows.configure("#2040a0", 1.f);
    const cv::Scalar blue = cv::mean(painted(brows), disc(p[19], 0.05f));
    const cv::Scalar brown = cv::mean(after, disc(p[19], 0.05f));
    EXPECT_GT(blue[0] - blue[2], brown[0] - brown[2] + 10);
}

}  // namespace
}  // namespace facelume
