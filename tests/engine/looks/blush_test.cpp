#include "blush.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "looks_test_support.h"
#include "portrait_faces.h"

namespace facelume {
namespace {

using namespace facelume::testing;

TEST(BlushTest, LandsOnBothCheeksNotOnTheNoseOrEyes) {
    const cv::Mat portrait = largeAstronaut();
    const std::vector<Face> faces = astronautFaces(portrait);
    ASSERT_FALSE(faces.empty());
    const Face& face = faces.front();
    const cv::Size size = portrait.size();
    const float scale = face.eyeDistance;

    Blush blush(kBuiltResources);
    EXPECT_FALSE(blush.active());
    blush.configure("pink", 1.f);
    ASSERT_TRUE(blush.active());
    cv::Mat after = portrait.clone();
    blush.apply(after, {face});

    // Each cheek's apple: half way between the jaw line and the nose wing, below the eye.
    const auto& p = face.landmarks;
    for (const auto& [jaw, wing] : {std::pair{2, 31}, std::pair{14, 35}}) {
        const cv::Point2f apple = (p[jaw] + p[wing]) * 0.5f;
        const cv::Mat cheek = discMask(size, apple, 0.12f * scale);
        EXPECT_GT(meanChange(portrait, after, cheek), 6.0) << "cheek next to landmark " << jaw;
        const cv::Scalar before = cv::mean(portrait, cheek), now = cv::mean(after, cheek);
        EXPECT_GT(now[2] - now[1], before[2] - before[1] + 5) << "pinker";
    }
    const double onCheek =
        meanChange(portrait, after, discMask(size, (p[2] + p[31]) * 0.5f, 0.12f * scale));

    // The nose: ridge and tip, and between the nostrils.
    const cv::Mat nose = landmarkMask(size, face, {27, 31, 32, 33, 34, 35}, -1);
    EXPECT_LT(meanChange(portrait, after, nose), 0.1 * onCheek);
    EXPECT_LT(maxChange(portrait, after, discMask(size, p[30], 0.1f * scale)), 1.0);
    // The eyes and the skin just below them.
    for (const std::vector<int>& eye :
         {std::vector<int>{36, 37, 38, 39, 40, 41}, std::vector<int>{42, 43, 44, 45, 46, 47}}) {
        EXPECT_LT(meanChange(portrait, after, landmarkMask(size, face, eye, 2)), 0.5);
    }
    // Lips, chin and everything off the face stay.
    EXPECT_LT(
        meanChange(portrait, after,
                   landmarkMask(size, face, {48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59})),
        0.5);
    std::vector<int> contour(17);
    for (int i = 0; i < 17; ++i) contour[i] = i;
    contour.insert(contour.end(), {26, 25, 24, 23, 22, 21, 20, 19, 18, 17});
    cv::Mat offFace = landmarkMask(size, face, contour, 8);
    cv::bitwise_not(offFace, offFace);
    EXPECT_EQ(maxChange(portrait, after, offFace), 0.0);
}

TEST(BlushTest, FollowsPresenceAndNothingWithoutFaces) {
    const cv::Mat portrait = largeAstronaut();
    const std::vector<Face> faces = astronautFaces(portrait);
    ASSERT_FALSE(faces.empty());
    Blush blush(kBuiltResources);
    blush.configure("#f2a0b0", 0.6f);
    cv::Mat frame = portrait.clone();
    blush.apply(frame, {});
    EXPECT_EQ(cv::norm(frame, portrait, cv::NORM_INF), 0.0);
    Face gone = faces.front();
    gone.presence = 0.f;
    blush.apply(frame, {gone});
    EXPECT_EQ(cv::norm(frame, portrait, cv::NORM_INF), 0.0);
    // A face half out of the picture, or a tiny frame, is painted without harm.
    Face edge = faces.front();
    for (cv::Point2f& point : edge.landmarks) point -= cv::Point2f(470, 0);
    blush.apply(frame, {edge});
    cv::Mat tiny(3, 5, CV_8UC3, cv::Scalar(90, 120, 200));
    blush.apply(tiny, faces);
    EXPECT_EQ(tiny.size(), cv::Size(5, 3));
}

}  // namespace
}  // namespace facelume
