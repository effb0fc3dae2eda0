#include "sticker_overlay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "looks_test_support.h"
#include "portrait_faces.h"

namespace facelume {
namespace {

using namespace facelume::testing;

class StickerOverlayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_portrait = largeAstronaut();
        const std::vector<Face> faces = astronautFaces(s_portrait);
        ASSERT_FALSE(faces.empty());
        s_face = faces.front();
    }

    // A white opaque bar, 200 x 40, drawn 2 eye distances wide centred on the eyes.
    void writeBar(const ScratchFolder& folder) const {
        folder.write("stickers/bar.yml",
                     "%YAML:1.0\n---\nanchor: [36, 39, 42, 45]\nwidth: 2.0\npivot: [0.5, 0.5]\n");
        cv::imwrite(folder.path() + "/stickers/bar.png",
                    cv::Mat(40, 200, CV_8UC4, cv::Scalar(255, 255, 255, 255)));
    }

    static cv::Mat s_portrait;
    static Face s_face;
};

cv::Mat StickerOverlayTest::s_portrait;
Face StickerOverlayTest::s_face;

// The face moved by a similarity transform about a centre: shift, zoom and turn.
Face moved(const Face& face, cv::Point2f centre, cv::Point2f shift, float zoom, float turn) {
    std::array<cv::Point2f, 68> landmarks;
    for (int i = 0; i < 68; ++i) {
        const cv::Point2f d = (face.landmarks[i] - centre) * zoom;
        landmarks[i] = centre + shift +
                       cv::Point2f(d.x * std::cos(turn) - d.y * std::sin(turn),
                                   d.x * std::sin(turn) + d.y * std::cos(turn));
    }
    return faceFromLandmarks(landmarks);
}

cv::Point2f eyeCorners(const Face& face) {
    const auto& p = face.landmarks;
    return (p[36] + p[39] + p[42] + p[45]) / 4.f;
}

TEST_F(StickerOverlayTest, FollowsTheFacesPositionSizeAndRoll) {
    ScratchFolder folder;
    writeBar(folder);
    StickerOverlay overlay(folder.path());
    EXPECT_FALSE(overlay.active());
    overlay.configure("bar");
    ASSERT_TRUE(overlay.active());

    const cv::Point2f centre = s_face.landmarks[30];
    cv::Mat frame(s_portrait.size(), CV_8UC3);
    // A generated sequence: the face drifts, comes closer and tilts one way, then the other.
    for (int step = 0; step < 12; ++step) {
        const float t = step / 11.f;
        const Face face = moved(s_face, centre, cv::Point2f(-120 + 240 * t, 60 * std::sin(6 * t)),
                                0.7f + 0.6f * t, 0.45f * std::sin(5 * t));
        frame.setTo(0);
        overlay.apply(frame, {face});
        cv::Mat painted;
        cv::cvtColor(frame, painted, cv::COLOR_BGR2GRAY);
        const cv::Moments m = cv::moments(painted);
        ASSERT_GT(m.m00, 0) << step;
        const cv::Point2f found(m.m10 / m.m00, m.m01 / m.m00);
        const cv::Point2f expected = eyeCorners(face);
        EXPECT_LT(cv::norm(found - expected), 1.0) << "step " << step;
        // Area 2 x 0.4 eye distances squared; orientation the face's roll.
        const double area = m.m00 / 255.0;
        const double ed = face.eyeDistance;
        EXPECT_NEAR(area, 0.8 * ed * ed, 0.05 * 0.8 * ed * ed) << "step " << step;
        const double angle = 0.5 * std::atan2(2 * m.mu11, m.mu20 - m.mu02);
        EXPECT_NEAR(angle, face.roll, 0.02) << "step " << step;
    }
}

TEST_F(StickerOverlayTest, OpacityFollowsPresence) {
    ScratchFolder folder;
    writeBar(folder);
    StickerOverlay overlay(folder.path());
    overlay.configure("bar");
    const cv::Point centre = eyeCorners(s_face);
    for (const float presence : {1.f, 0.5f, 0.f}) {
        Face face = s_face;
        face.presence = presence;
        cv::Mat frame(s_portrait.size(), CV_8UC3, cv::Scalar(0, 0, 0));
        overlay.apply(frame, {face});
        EXPECT_NEAR(frame.at<cv::Vec3b>(centre)[1], 255 * presence, 1.0) << presence;
    }
}

TEST_F(StickerOverlayTest, ShippedStickersSitWhereTheyBelong) {
    const auto& p = s_face.landmarks;
    const float ed = s_face.eyeDistance;
    const cv::Point2f browMiddle = (p[19] + p[24]) * 0.5f;
    const struct {
        const char* name;
        cv::Point2f where;  // expected centre of the changed pixels
        float tolerance;    // eye distances
    } stickers[] = {
        {"glasses", (p[36] + p[39] + p[42] + p[45]) / 4.f, 0.15f},
        {"crown", browMiddle - cv::Point2f(0, 1.2f * ed), 0.4f},
        {"cat_ears", browMiddle - cv::Point2f(0, 1.3f * ed), 0.4f},
        {"blush_hearts", (p[2] + p[14] + p[30]) / 3.f, 0.25f},
        {"moustache", (p[33] + p[51]) * 0.5f, 0.2f},
    };
    for (const auto& sticker : stickers) {
        StickerOverlay overlay(kBuiltResources);
        ::testing::internal::CaptureStderr();
        overlay.configure(sticker.name);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << sticker.name;
        ASSERT_TRUE(overlay.active()) << sticker.name;
        cv::Mat frame = s_portrait.clone();
        overlay.apply(frame, {s_face});
        cv::Mat changed;
        cv::absdiff(frame, s_portrait, changed);
        cv::cvtColor(changed, changed, cv::COLOR_BGR2GRAY);
        cv::threshold(changed, changed, 20, 255, cv::THRESH_BINARY);
        const cv::Moments m = cv::moments(changed, true);
        ASSERT_GT(m.m00, 0.1 * ed * ed) << sticker.name;
        const cv::Point2f found(m.m10 / m.m00, m.m01 / m.m00);
        EXPECT_LT(cv::norm(found - sticker.where), sticker.tolerance * ed)
            << sticker.name << " at " << found << ", expected near " << sticker.where;
        // Nothing lands far from the face.
        cv::Mat far(changed.size(), CV_8UC1, cv::Scalar(255));
        cv::circle(far, p[30], cvRound(3.6f * ed), cv::Scalar(0), cv::FILLED);
        EXPECT_EQ(cv::countNonZero(changed & far), 0) << sticker.name;
    }
}

TEST_F(StickerOverlayTest, UnknownOrBrokenStickersTurnOffWithOneLine) {
    ScratchFolder folder;
    writeBar(folder);
    cv::imwrite(folder.path() + "/stickers/lonely.png",
                cv::Mat(8, 8, CV_8UC4, cv::Scalar::all(255)));
    cv::imwrite(folder.path() + "/stickers/wrong.png",
                cv::Mat(8, 8, CV_8UC4, cv::Scalar::all(255)));
    folder.write("stickers/wrong.yml", "%YAML:1.0\n---\nanchor: [36, 70]\nwidth: 2.0\n");
    folder.write("stickers/junk.png", "not a picture");
    folder.write("stickers/junk.yml", "%YAML:1.0\n---\nanchor: [30]\nwidth: 1.0\n");
    StickerOverlay overlay(folder.path());
    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"rocket", "unknown sticker \"rocket\""},  {"lonely", "lonely.yml: no such file"},
        {"wrong", "anchor landmarks are 0 to 67"}, {"junk", "junk.png: not a readable picture"},
        {"../stickers/bar", "available in"},
    };
    for (const auto& c : cases) {
        overlay.configure("bar");
        ASSERT_TRUE(overlay.active());
        ::testing::internal::CaptureStderr();
        overlay.configure(c.name);
        const std::string output = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(overlay.active()) << c.name;
        EXPECT_EQ(lineCount(output), 1) << output;
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
    }
    overlay.configure("rocket");
    ::testing::internal::CaptureStderr();
    overlay.configure("");
    overlay.configure(nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(overlay.active());
}

TEST_F(StickerOverlayTest, FacesAtTheEdgeAndOddFramesAreSafe) {
    StickerOverlay overlay(kBuiltResources);
    overlay.configure("crown");
    ASSERT_TRUE(overlay.active());
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(3, 5), cv::Size(1920, 1080)}) {
        cv::Mat frame(size, CV_8UC3, cv::Scalar(10, 20, 30));
        overlay.apply(frame, {s_face, moved(s_face, {0, 0}, {-500, -400}, 1.f, 2.f)});
        EXPECT_EQ(frame.size(), size);
    }
    Face broken = s_face;
    broken.landmarks[19].x = std::nanf("");
    cv::Mat frame = s_portrait.clone();
    overlay.apply(frame, {broken});
    EXPECT_EQ(cv::norm(frame, s_portrait, cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace facelume
