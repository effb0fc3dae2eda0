#include "blush.h"

#include <gtest/gtest.h>

#include "test_pictures.h"

namespace facelume {
namespace {

using BlushTest = PortraitTest;

// A dark-skinned stand-in for a picture: its lightness in CIE Lab brought down to 35 % with the
// colour's a and b kept a little stronger, as deep brown skin is (dimming in RGB would also
// grey the colour).
cv::Mat darkSkinned(const cv::Mat& bgr) {
    cv::Mat lab;
    bgr.convertTo(lab, CV_32F, 1.0 / 255.0);
    cv::cvtColor(lab, lab, cv::COLOR_BGR2Lab);
    lab = lab.mul(cv::Scalar(0.35, 1.1, 1.2));
    cv::cvtColor(lab, lab, cv::COLOR_Lab2BGR);
    cv::Mat dark;
    lab.convertTo(dark, CV_8U, 255.0);
    return dark;
}

// Mean CIE Lab distance (delta E 1976) between two pictures over the mask.
double deltaE(const cv::Mat& before, const cv::Mat& after, const cv::Mat& mask) {
    cv::Mat a, b, difference;
    before.convertTo(a, CV_32F, 1.0 / 255.0);
    after.convertTo(b, CV_32F, 1.0 / 255.0);
    cv::cvtColor(a, a, cv::COLOR_BGR2Lab);
    cv::cvtColor(b, b, cv::COLOR_BGR2Lab);
    cv::subtract(a, b, difference);
    difference = difference.mul(difference);
    cv::transform(difference, difference, cv::Matx13f(1.f, 1.f, 1.f));
    cv::sqrt(difference, difference);
    return cv::mean(difference, mask)[0];
}

TEST_F(BlushTest, AsVisibleOnDarkSkinAsOnLight) {
    Blush blush(TestPictures::resourceFolder());
    blush.configure("blossom", 1.f);
    const auto& p = face.landmarks;
    const cv::Mat cheeks = disc((p[2] + p[31]) * 0.5f, 0.12f) | disc((p[14] + p[35]) * 0.5f, 0.12f);
    const cv::Mat dark = darkSkinned(portrait);
    cv::Mat darkAfter = dark.clone();
    blush.apply(darkAfter, {face});
    const double onLight = deltaE(portrait, painted(blush), cheeks);
    const double onDark = deltaE(dark, darkAfter, cheeks);
    EXPECT_GT(onLight, 5.0);
    EXPECT_GT(onDark, onLight / 1.2);
    EXPECT_LT(onDark, onLight * 1.2);
}

TEST(BlushOnATurnedHeadTest, StaysOnTheNearCheekOffTheEarAndTheNose) {
    // The cameraman, his head turned to his left nearly into profile, with the landmarks fitted
    // to the box the learned face detector gives (dlib's own detector does not find him).
    const cv::Mat picture = TestPictures::load("camera.png");
    ASSERT_FALSE(picture.empty());
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    const Face face = TestPictures::faceOf(TestPictures::fitter().fit(grey, {174, 119, 91, 91}));

    Blush blush(TestPictures::resourceFolder());
    blush.configure("#ff0000", 1.f);
    cv::Mat after = picture.clone();
    blush.apply(after, {face});
    cv::Mat change;
    cv::absdiff(picture, after, change);
    cv::transform(change, change, cv::Matx13f(1.f, 1.f, 1.f));
    // Where the paint is, measured by hand in the picture: his ear ends at x = 198, the tip of
    // his nose is at (250, 162), the apple of his cheek about (215, 162).
    const double all = cv::sum(change)[0];
    const double onEar = cv::sum(change.colRange(0, 198))[0];
    const auto around = [&](cv::Point centre) {
        cv::Mat disc(change.size(), CV_8UC1, cv::Scalar(0));
        cv::circle(disc, centre, 8, cv::Scalar(255), cv::FILLED);
        return cv::mean(change, disc)[0];
    };
    EXPECT_LT(onEar, 0.25 * all);
    EXPECT_LT(around({250, 162}), 5.0);
    EXPECT_GT(around({215, 162}), 20.0);
}

}  // namespace
}  // namespace facelume
