#include "eyebrow_makeup.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "looks_test_support.h"
#include "portrait_faces.h"

namespace facelume {
namespace {

using namespace facelume::testing;

double meanLuma(const cv::Mat& bgr, const cv::Mat& mask) {
    cv::Mat grey;
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    return cv::mean(grey, mask)[0];
}

TEST(EyebrowMakeupTest, DarkensAndTintsTheBrowsOnly) {
    const cv::Mat portrait = largeAstronaut();
    const std::vector<Face> faces = astronautFaces(portrait);
    ASSERT_FALSE(faces.empty());
    const Face& face = faces.front();
    const cv::Size size = portrait.size();
    const float scale = face.eyeDistance;
    const auto& p = face.landmarks;

    EyebrowMakeup brows(kBuiltResources);
    brows.configure("darkbrown", 1.f);
    ASSERT_TRUE(brows.active());
    cv::Mat after = portrait.clone();
    brows.apply(after, {face});

    for (const int middle : {19, 24}) {
        const cv::Mat brow = discMask(size, p[middle], 0.05f * scale);
        EXPECT_LT(meanLuma(after, brow), meanLuma(portrait, brow) - 15) << "brow at " << middle;
        // Above the brow on the forehead nothing changes.
        const cv::Point2f forehead = p[middle] - cv::Point2f(0, 0.4f * scale);
        EXPECT_EQ(maxChange(portrait, after, discMask(size, forehead, 0.1f * scale)), 0.0);
    }
    // Gaps between the inner ends of the brows and the eyes stay untouched.
    EXPECT_EQ(maxChange(portrait, after,
                        discMask(size, p[27] - cv::Point2f(0, 0.05f * scale), 0.08f * scale)),
              0.0);
    for (const std::vector<int>& eye :
         {std::vector<int>{36, 37, 38, 39, 40, 41}, std::vector<int>{42, 43, 44, 45, 46, 47}}) {
        EXPECT_EQ(maxChange(portrait, after, landmarkMask(size, face, eye, 1)), 0.0);
    }

    // A stronger colour tints: blue brows are bluer than brown ones.
    brows.configure("#2040a0", 1.f);
    cv::Mat blue = portrait.clone();
    brows.apply(blue, {face});
    const cv::Mat brow = discMask(size, p[19], 0.05f * scale);
    EXPECT_GT(cv::mean(blue, brow)[0] - cv::mean(blue, brow)[2],
              cv::mean(after, brow)[0] - cv::mean(after, brow)[2] + 10);

    brows.configure("darkbrown", 0.f);
    EXPECT_FALSE(brows.active());
}

}  // namespace
}  // namespace facelume
