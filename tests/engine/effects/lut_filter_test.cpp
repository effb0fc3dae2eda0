#include "lut_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <sstream>

#include "test_pictures.h"

namespace facelume {
namespace {

cv::Mat applied(LutFilter& filter, const cv::Mat& input) {
    cv::Mat frame = input.clone();
    filter.apply(frame, {});
    return frame;
}

double maxDifference(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }

TEST(LutFilterTest, KnownTablesGiveKnownColoursMixedWithTheOriginalByStrength) {
    const int size = 18;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0.f, 1.f);
    std::vector<cv::Vec3f> lattice(size * size * size);
    std::ostringstream text;
    text << "LUT_3D_SIZE " << size << "\n";
    for (cv::Vec3f& c : lattice) {
        c = cv::Vec3f(value(random), value(random), value(random));
        text << c[0] << ' ' << c[1] << ' ' << c[2] << '\n';  // r, g, b; red runs fastest
    }
    ScratchFolder folder;
    folder.write("filters/random.cube", text.str());
    // Identity lattice over 0..2: an input of v comes out as v / 2.
    folder.write("filters/half.cube",
                 "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 2 2 2\nLUT_3D_SIZE 2\n"
                 "0 0 0\n2 0 0\n0 2 0\n2 2 0\n0 0 2\n2 0 2\n0 2 2\n2 2 2\n");
    folder.write("filters/invert.cube",
                 "LUT_3D_SIZE 2\n1 1 1\n0 1 1\n1 0 1\n0 0 1\n1 1 0\n0 1 0\n1 0 0\n0 0 0\n");
    LutFilter filter(folder.path());
    filter.configure("random", 1.f);
    ASSERT_TRUE(filter.active());

    // Anywhere inside the lattice: the tetrahedral interpolation of a float reference, on a
    // frame large enough to be shared out over threads.
    cv::Mat noise(720, 1280, CV_8UC3);
    cv::randu(noise, 0, 256);
    const cv::Mat out = applied(filter, noise);
    for (int i = 0; i < int(noise.total()); i += 97) {
        const cv::Vec3b in = noise.at<cv::Vec3b>(i);
        int corner[3];                                   // r, g, b lattice indices
        std::array<std::pair<float, int>, 3> fractions;  // (fraction, stride), largest first
        const int strides[3] = {1, size, size * size};
        for (int c = 0; c < 3; ++c) {
            const float position = in[2 - c] / 255.f * (size - 1);
            corner[c] = std::min(int(position), size - 2);
            fractions[size_t(c)] = {position - corner[c], strides[c]};
        }
        std::sort(fractions.rbegin(), fractions.rend());
        int index = (corner[2] * size + corner[1]) * size + corner[0];
        cv::Vec3f expected = lattice[size_t(index)] * (1.f - fractions[0].first);
        for (int k = 0; k < 3; ++k) {
            index += fractions[size_t(k)].second;
            const float next = k < 2 ? fractions[size_t(k + 1)].first : 0.f;
            expected += lattice[size_t(index)] * (fractions[size_t(k)].first - next);
        }
        for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(out.at<cv::Vec3b>(i)[2 - c], expected[c] * 255.f, 1.5) << "pixel " << i;
    }
    // Whole rows are done eight pixels at a time where the processor allows, single pixels one
    // by one: both give the same bytes.
    const cv::Mat row = noise.row(0).colRange(0, 1001);
    const cv::Mat wholeRow = applied(filter, row);
    for (int i = 0; i < row.cols; ++i)
        ASSERT_EQ(wholeRow.at<cv::Vec3b>(i), applied(filter, row.col(i)).at<cv::Vec3b>(0))
            << "pixel " << i;

    filter.configure("half", 1.f);
    EXPECT_EQ(applied(filter, cv::Mat(1, 1, CV_8UC3, cv::Scalar(200, 100, 40))).at<cv::Vec3b>(0),
              cv::Vec3b(100, 50, 20));

    // The strength mixes the look with the original (the full look is the reference's above).
    const cv::Mat portrait = TestPictures::load("astronaut.png");
    cv::Mat quarter;
    cv::addWeighted(portrait, 0.75, cv::Scalar::all(255) - portrait, 0.25, 0.0, quarter);
    filter.configure("invert", 0.25f);
    EXPECT_LE(maxDifference(applied(filter, portrait), quarter), 1.0);
    filter.configure("invert", 0.5f);
    const cv::Mat half = applied(filter, portrait);

    for (const float off : {0.f, -1.f, std::nanf("")}) {
        filter.configure("invert", off);
        EXPECT_FALSE(filter.active()) << off;
        EXPECT_EQ(maxDifference(applied(filter, portrait), portrait), 0.0) << off;
    }
    filter.configure("invert", 0.5f);  // back on, without reading the file again
    EXPECT_EQ(maxDifference(applied(filter, portrait), half), 0.0);
}

double meanSaturation(const cv::Mat& bgr) {
    cv::Mat hsv;
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
    return cv::mean(hsv)[1];
}

TEST(LutFilterTest, ShippedLooksDoWhatTheirNamesSay) {
    const cv::Mat portrait = TestPictures::load("astronaut.png");
    LutFilter filter(TestPictures::resourceFolder());
    // Identity changes nothing, at any size.
    EXPECT_FALSE(filter.active());
    filter.configure("identity", 1.f);
    ASSERT_TRUE(filter.active());
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(3, 5), cv::Size(1920, 1080)}) {
        cv::Mat frame(size, CV_8UC3);
        cv::randu(frame, 0, 256);
        EXPECT_EQ(maxDifference(applied(filter, frame), frame), 0.0) << size;
    }
    const auto warmth = [](const cv::Mat& bgr) { return cv::mean(bgr)[2] - cv::mean(bgr)[0]; };
    const auto look = [&](const char* name) {
        filter.configure(name, 1.f);
        EXPECT_TRUE(filter.active()) << name;
        return applied(filter, portrait);
    };
    EXPECT_GT(warmth(look("warm")), warmth(portrait) + 8);
    EXPECT_LT(warmth(look("cool")), warmth(portrait) - 8);
    EXPECT_GT(meanSaturation(look("vivid")), meanSaturation(portrait) * 1.2);
    std::vector<cv::Mat> mono;
    cv::split(look("mono"), mono);
    EXPECT_LE(maxDifference(mono[0], mono[1]), 1.0);
    EXPECT_LE(maxDifference(mono[1], mono[2]), 1.0);
    double darkest;
    cv::minMaxLoc(look("fade").reshape(1), &darkest);
    EXPECT_GE(darkest, 15.0);  // lifted blacks
    // Other formats than 8-bit BGR are left alone.
    cv::Mat grey(4, 4, CV_8UC1, cv::Scalar(9)), empty;
    filter.apply(grey, {});
    filter.apply(empty, {});
    EXPECT_EQ(cv::countNonZero(grey != 9), 0);
    EXPECT_TRUE(empty.empty());
    for (const char* name : {"film", "sepia"}) {
        EXPECT_GT(cv::norm(look(name), portrait, cv::NORM_L1) / portrait.total(), 10) << name;
    }
}

}  // namespace
}  // namespace facelume
