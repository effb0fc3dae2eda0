#include "lut_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>

#include "looks_test_support.h"

namespace facelume {
namespace {

using testing::kBuiltResources;
using testing::lineCount;
using testing::ScratchFolder;

const std::vector<Face> kNoFaces;

cv::Mat astronaut() {
    cv::Mat picture = cv::imread(testing::kTestPictures + "/astronaut.png", cv::IMREAD_COLOR);
    EXPECT_FALSE(picture.empty()) << "run scripts/fetch-test-images.sh first";
    return picture;
}

// A .cube text with the given lattice values, (r, g, b) per entry, red fastest.
std::string cubeText(int size, const std::vector<cv::Vec3f>& lattice) {
    std::ostringstream out;
    out << "LUT_3D_SIZE " << size << "\n";
    for (const cv::Vec3f& c : lattice) out << c[0] << ' ' << c[1] << ' ' << c[2] << '\n';
    return out.str();
}

const std::string kInvert =
    "LUT_3D_SIZE 2\n1 1 1\n0 1 1\n1 0 1\n0 0 1\n1 1 0\n0 1 0\n1 0 0\n0 0 0\n";

cv::Mat applied(LutFilter& filter, const cv::Mat& input) {
    cv::Mat frame = input.clone();
    filter.apply(frame, kNoFaces);
    return frame;
}

double maxDifference(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }

TEST(LutFilterTest, IdentityChangesNothingAtAnySize) {
    LutFilter filter(kBuiltResources);
    EXPECT_FALSE(filter.active());
    filter.configure("identity", 1.f);
    ASSERT_TRUE(filter.active());

    const cv::Mat portrait = astronaut();
    EXPECT_EQ(maxDifference(applied(filter, portrait), portrait), 0.0);
    cv::Mat ramp(1, 256 * 3, CV_8UC3);
    for (int i = 0; i < ramp.cols; ++i) ramp.at<cv::Vec3b>(0, i) = cv::Vec3b(i, 255 - i / 3, i / 3);
    EXPECT_EQ(maxDifference(applied(filter, ramp), ramp), 0.0);
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(3, 5), cv::Size(1920, 1080)}) {
        cv::Mat frame(size, CV_8UC3);
        cv::randu(frame, 0, 256);
        EXPECT_EQ(maxDifference(applied(filter, frame), frame), 0.0) << size;
    }
}

TEST(LutFilterTest, KnownTableGivesKnownColours) {
    // Size 18: every 15th 8-bit level falls exactly on a lattice point.
    const int size = 18;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0.f, 1.f);
    std::vector<cv::Vec3f> lattice(size * size * size);
    for (cv::Vec3f& c : lattice) c = cv::Vec3f(value(random), value(random), value(random));
    ScratchFolder folder;
    folder.write("filters/random.cube", cubeText(size, lattice));
    LutFilter filter(folder.path());
    filter.configure("random", 1.f);
    ASSERT_TRUE(filter.active());

    cv::Mat frame(size * size, size, CV_8UC3);
    for (int b = 0; b < size; ++b)
        for (int g = 0; g < size; ++g)
            for (int r = 0; r < size; ++r)
                frame.at<cv::Vec3b>(b * size + g, r) = cv::Vec3b(15 * b, 15 * g, 15 * r);
    filter.apply(frame, kNoFaces);
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const cv::Vec3f& expected = lattice[(b * size + g) * size + r];
                const cv::Vec3b got = frame.at<cv::Vec3b>(b * size + g, r);
                for (int c = 0; c < 3; ++c) {
                    ASSERT_NEAR(got[2 - c], expected[c] * 255.f, 0.6f)
                        << "lattice point " << r << ',' << g << ',' << b;
                }
            }
        }
    }

    // Between two lattice points along one channel the colour is their linear mix.
    cv::Mat between(1, 1, CV_8UC3, cv::Scalar(30, 45, 15 * 4 + 5));  // red a third of the way
    filter.apply(between, kNoFaces);
    const cv::Vec3f low = lattice[(2 * size + 3) * size + 4];
    const cv::Vec3f high = lattice[(2 * size + 3) * size + 5];
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(between.at<cv::Vec3b>(0, 0)[2 - c], (low[c] * 2 + high[c]) / 3 * 255.f, 1.0);
    }
}

TEST(LutFilterTest, StrengthMixesWithTheOriginal) {
    ScratchFolder folder;
    folder.write("filters/invert.cube", kInvert);
    LutFilter filter(folder.path());
    const cv::Mat portrait = astronaut();
    cv::Mat inverted;
    cv::bitwise_not(portrait, inverted);

    filter.configure("invert", 1.f);
    EXPECT_LE(maxDifference(applied(filter, portrait), inverted), 1.0);
    filter.configure("invert", 7.f);  // clamped to 1
    EXPECT_LE(maxDifference(applied(filter, portrait), inverted), 1.0);

    filter.configure("invert", 0.5f);
    cv::Mat half = applied(filter, portrait);
    double lowest, highest;
    cv::minMaxLoc(half.reshape(1), &lowest, &highest);
    EXPECT_GE(lowest, 127.0);
    EXPECT_LE(highest, 128.0);

    filter.configure("invert", 0.25f);
    cv::Mat quarter;
    cv::addWeighted(portrait, 0.75, inverted, 0.25, 0.0, quarter);
    EXPECT_LE(maxDifference(applied(filter, portrait), quarter), 1.0);

    for (const float off : {0.f, -1.f, std::nanf("")}) {
        filter.configure("invert", off);
        EXPECT_FALSE(filter.active()) << off;
        EXPECT_EQ(maxDifference(applied(filter, portrait), portrait), 0.0) << off;
    }
    filter.configure("invert", 0.5f);  // back on, without reading the file again
    EXPECT_LE(maxDifference(applied(filter, portrait), half), 0.0);
}

TEST(LutFilterTest, DomainRescalesTheInput) {
    // Identity lattice over 0..2: an input of v comes out as v / 2.
    ScratchFolder folder;
    folder.write("filters/half.cube",
                 "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 2 2 2\nLUT_3D_SIZE 2\n"
                 "0 0 0\n2 0 0\n0 2 0\n2 2 0\n0 0 2\n2 0 2\n0 2 2\n2 2 2\n");
    LutFilter filter(folder.path());
    filter.configure("half", 1.f);
    cv::Mat frame(1, 1, CV_8UC3, cv::Scalar(200, 100, 40));
    filter.apply(frame, kNoFaces);
    EXPECT_EQ(frame.at<cv::Vec3b>(0, 0), cv::Vec3b(100, 50, 20));
}

cv::Scalar meanOf(const cv::Mat& bgr) { return cv::mean(bgr); }

double meanSaturation(const cv::Mat& bgr) {
    cv::Mat hsv;
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
    return cv::mean(hsv)[1];
}

TEST(LutFilterTest, ShippedLooksDoWhatTheirNamesSay) {
    const cv::Mat portrait = astronaut();
    LutFilter filter(kBuiltResources);
    const cv::Scalar before = meanOf(portrait);
    const double warmthBefore = before[2] - before[0];

    filter.configure("warm", 1.f);
    const cv::Scalar warm = meanOf(applied(filter, portrait));
    EXPECT_GT(warm[2] - warm[0], warmthBefore + 8);

    filter.configure("cool", 1.f);
    const cv::Scalar cool = meanOf(applied(filter, portrait));
    EXPECT_LT(cool[2] - cool[0], warmthBefore - 8);

    filter.configure("vivid", 1.f);
    EXPECT_GT(meanSaturation(applied(filter, portrait)), meanSaturation(portrait) * 1.2);

    filter.configure("mono", 1.f);
    cv::Mat mono = applied(filter, portrait);
    std::vector<cv::Mat> channels;
    cv::split(mono, channels);
    EXPECT_LE(maxDifference(channels[0], channels[1]), 1.0);
    EXPECT_LE(maxDifference(channels[1], channels[2]), 1.0);

    filter.configure("fade", 1.f);
    double darkest;
    cv::minMaxLoc(applied(filter, portrait).reshape(1), &darkest);
    EXPECT_GE(darkest, 15.0);  // lifted blacks

    for (const char* name : {"film", "sepia"}) {
        filter.configure(name, 1.f);
        EXPECT_GT(cv::norm(applied(filter, portrait), portrait, cv::NORM_L1) / portrait.total(), 10)
            << name;
    }
}

TEST(LutFilterTest, UnknownOrMalformedFilesTurnTheFilterOffWithOneLine) {
    ScratchFolder folder;
    folder.write("filters/invert.cube", kInvert);
    folder.write("filters/broken.cube", "TITLE \"broken\"\nLUT_3D_SIZE 2\n0 0 0\n1 x 0\n");
    folder.write("invert.cube", kInvert);  // outside the filters folder
    LutFilter filter(folder.path());

    const auto configureAndCapture = [&](const char* name) {
        filter.configure("invert", 1.f);
        EXPECT_TRUE(filter.active());
        ::testing::internal::CaptureStderr();
        filter.configure(name, 1.f);
        return ::testing::internal::GetCapturedStderr();
    };

    std::string output = configureAndCapture("sunset");
    EXPECT_FALSE(filter.active());
    EXPECT_EQ(lineCount(output), 1) << output;
    EXPECT_NE(output.find("\"sunset\""), std::string::npos) << output;
    EXPECT_NE(output.find("broken, invert"), std::string::npos) << output;

    output = configureAndCapture("broken");
    EXPECT_FALSE(filter.active());
    EXPECT_EQ(lineCount(output), 1) << output;
    EXPECT_NE(output.find("broken.cube line 4: expected three numbers"), std::string::npos)
        << output;

    output = configureAndCapture("../invert");
    EXPECT_FALSE(filter.active());
    EXPECT_EQ(lineCount(output), 1) << output;

    for (const char* off : {static_cast<const char*>(nullptr), ""}) {
        output = configureAndCapture(off);
        EXPECT_FALSE(filter.active());
        EXPECT_EQ(output, "");
    }

    LutFilter nowhere("/nonexistent/beauty_res");
    ::testing::internal::CaptureStderr();
    nowhere.configure("warm", 1.f);
    output = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(nowhere.active());
    EXPECT_EQ(lineCount(output), 1);
    EXPECT_NE(output.find(": none"), std::string::npos) << output;
}

TEST(LutFilterTest, LeavesOtherPixelFormatsAlone) {
    LutFilter filter(kBuiltResources);
    filter.configure("mono", 1.f);
    cv::Mat grey(4, 4, CV_8UC1, cv::Scalar(9));
    filter.apply(grey, kNoFaces);
    EXPECT_EQ(cv::countNonZero(grey != 9), 0);
    cv::Mat empty;
    filter.apply(empty, kNoFaces);
    EXPECT_TRUE(empty.empty());
}

}  // namespace
}  // namespace facelume
