#include "sticker_overlay.h"

#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "engine.h"
#include "face_tracker.h"
#include "test_pictures.h"

namespace facelume {
namespace {

using StickerOverlayTest = PortraitTest;

// The face as turned by `degrees` about its upright axis: the landmarks on a cylinder as wide as
// the jaw, the nose standing out from it by a third of the eye distance.
Face turned(const Face& face, float degrees) {
    const auto& p = face.landmarks;
    const float centre = (p[0].x + p[16].x) / 2, radius = (p[16].x - p[0].x) / 2;
    const float angle = degrees * float(CV_PI) / 180.f;
    std::array<cv::Point2f, 68> landmarks;
    for (int i = 0; i < 68; ++i) {
        const float x = p[i].x - centre;
        const float depth = std::sqrt(std::max(0.f, radius * radius - x * x)) +
                            (i >= 27 && i <= 35 ? face.eyeDistance / 3 : 0.f);
        landmarks[i] = {centre + x * std::cos(angle) + depth * std::sin(angle), p[i].y};
    }
    return TestPictures::faceOf(landmarks);
}

cv::Point2f eyeCorners(const Face& face) {
    const auto& p = face.landmarks;
    return (p[36] + p[39] + p[42] + p[45]) / 4.f;
}

TEST_F(StickerOverlayTest, FollowsTheFacesPositionSizeAndRoll) {
    // A white opaque bar, 200 x 40, drawn 2 eye distances wide centred on the eyes.
    const ScratchFolder folder;
    folder.write("stickers/bar.yml", "%YAML:1.0\n---\nanchor: [36, 39, 42, 45]\nwidth: 2.0\n");
    cv::imwrite(folder.path() + "/stickers/bar.png",
                cv::Mat(40, 200, CV_8UC4, cv::Scalar::all(255)));
    StickerOverlay overlay(folder.path());
    EXPECT_FALSE(overlay.active());
    overlay.configure("bar");
    ASSERT_TRUE(overlay.active());

    cv::Mat frame(portrait.size(), CV_8UC3);
    // A generated sequence: the face drifts, comes closer and tilts one way, then the other.
    for (int step = 0; step < 12; ++step) {
        const float t = step / 11.f;
        const Face moving =
            TestPictures::moved(face, {-120 + 240 * t, 60 * std::sin(6 * t)}, 0.7 + 0.6 * t,
                                26 * std::sin(5 * t), face.landmarks[30]);
        frame.setTo(0);
        overlay.apply(frame, {moving});
        cv::Mat grey;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        const cv::Moments m = cv::moments(grey);
        ASSERT_GT(m.m00, 0) << step;
        const cv::Point2f found(m.m10 / m.m00, m.m01 / m.m00);
        EXPECT_LT(cv::norm(found - eyeCorners(moving)), 1.0) << "step " << step;
        // Area 2 x 0.4 eye distances squared; orientation the face's roll.
        const double area = 0.8 * moving.eyeDistance * moving.eyeDistance;
        EXPECT_NEAR(m.m00 / 255.0, area, 0.05 * area) << "step " << step;
        EXPECT_NEAR(0.5 * std::atan2(2 * m.mu11, m.mu20 - m.mu02), moving.roll, 0.02) << step;
    }
}

TEST_F(StickerOverlayTest, ShippedStickersSitWhereTheyBelongGlassesAlsoOnATurnedFace) {
    const auto& p = face.landmarks;
    const float ed = face.eyeDistance;
    const cv::Point2f browMiddle = (p[19] + p[24]) * 0.5f;
    const struct {
        const char* name;
        cv::Point2f where;  // expected centre of the changed pixels
        float tolerance;    // eye distances
    } stickers[] = {
        {"glasses", eyeCorners(face), 0.15f},
        {"crown", browMiddle - cv::Point2f(0, 1.2f * ed), 0.4f},
        {"cat_ears", browMiddle - cv::Point2f(0, 1.3f * ed), 0.4f},
        {"blush_hearts", (p[2] + p[14] + p[30]) / 3.f, 0.25f},
        {"moustache", (p[33] + p[51]) * 0.5f, 0.2f},
    };
    for (const auto& sticker : stickers) {
        StickerOverlay overlay(TestPictures::resourceFolder());
        EXPECT_EQ(stderrOf([&] { overlay.configure(sticker.name); }), "") << sticker.name;
        ASSERT_TRUE(overlay.active()) << sticker.name;
        cv::Mat changed;
        cv::absdiff(painted(overlay), portrait, changed);
        cv::cvtColor(changed, changed, cv::COLOR_BGR2GRAY);
        cv::threshold(changed, changed, 20, 255, cv::THRESH_BINARY);
        const cv::Moments m = cv::moments(changed, true);
        ASSERT_GT(m.m00, 0.1 * ed * ed) << sticker.name;
        const cv::Point2f found(m.m10 / m.m00, m.m01 / m.m00);
        EXPECT_LT(cv::norm(found - sticker.where), sticker.tolerance * ed)
            << sticker.name << " at " << found << ", expected near " << sticker.where;
        // Nothing lands far from the face.
        EXPECT_EQ(cv::countNonZero(changed & ~disc(p[30], 3.6f)), 0) << sticker.name;
    }

    // The glasses sit on the nose bridge and reach past both eyes also of a turned face.
    StickerOverlay overlay(TestPictures::resourceFolder());
    overlay.configure("glasses");
    for (const float degrees : {0.f, 35.f, -35.f}) {
        const Face f = turned(face, degrees);
        const auto& p = f.landmarks;
        cv::Mat frame(portrait.size(), CV_8UC3, cv::Scalar::all(128));
        overlay.apply(frame, {f});
        // Along the row through the lenses' centres: painted lenses, and between them the gap
        // under the glasses' bridge.
        const int y = cvRound((p[37].y + p[40].y + p[43].y + p[46].y) / 4 + 0.02f * f.eyeDistance);
        std::vector<int> painted;
        for (int x = 0; x < frame.cols; ++x)
            if (frame.at<cv::Vec3b>(y, x) != cv::Vec3b(128, 128, 128)) painted.push_back(x);
        ASSERT_FALSE(painted.empty()) << degrees;
        // The middle of the break between painted pixels nearest the nose bridge.
        double gap = -1e9;
        for (size_t i = 1; i < painted.size(); ++i) {
            const double middle = (painted[i - 1] + painted[i]) / 2.0;
            if (painted[i] - painted[i - 1] > 1 &&
                std::abs(middle - p[27].x) < std::abs(gap - p[27].x))
                gap = middle;
        }
        const float corners = p[45].x - p[36].x;
        EXPECT_NEAR(gap, p[27].x, 0.04 * corners) << degrees;
        // Past both outer corners, if only just on the far side, as a turned head shows it.
        EXPECT_GT(p[36].x - painted.front(), 0.03 * corners) << degrees;
        EXPECT_GT(painted.back() - p[45].x, 0.03 * corners) << degrees;
    }
}

TEST(StickersOnANearProfileTest, GlassesSitOnTheVisibleEyeOffTheEarThreeQuarterFacesAsBefore) {
    // Faces as the tracker hands them on. The cameraman's landmarks, and those of his mirror
    // image, lay a frontal face over his near profile, one eye on his ear. Measured by hand in the
    // picture: his ear ends at x = 198, his visible eye's middle is at (238, 146), the front of
    // his nose bridge at x = 252.
    FaceTracker tracker(TestPictures::fitter(), DetectionWorker::Mode::Synchronous,
                        TestPictures::resourceFolder() + "/" + Engine::kDetectorModelFile);
    const auto track = [&](const cv::Mat& frame, int times) {
        cv::Mat grey;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        for (int i = 0; i < times; ++i) tracker.update(grey);
        return tracker.faces();
    };
    const auto still = [&](const cv::Mat& picture) {
        tracker.reset();
        return track(picture, tracker.findFrames(picture.size()));
    };
    StickerOverlay glasses(TestPictures::resourceFolder());
    glasses.configure("glasses");
    const auto paint = [&](const cv::Mat& picture, std::vector<Face> faces, bool turnKnown) {
        EXPECT_EQ(faces.size(), 1u);
        for (Face& face : faces) face.turn = turnKnown ? face.turn : NAN;
        cv::Mat after = picture.clone(), changed;
        glasses.apply(after, faces);
        cv::absdiff(picture, after, changed);
        cv::cvtColor(changed, changed, cv::COLOR_BGR2GRAY);
        return cv::Mat(changed > 20);
    };
    cv::Mat picture = TestPictures::load("camera.png"), painted;
    for (const bool mirrored : {false, true}) {
        if (mirrored) cv::flip(picture, picture, 1);
        painted = paint(picture, still(picture), true);
        if (mirrored) cv::flip(painted, painted, 1);
        const cv::Moments m = cv::moments(painted, true);
        ASSERT_GT(m.m00, 0) << mirrored;
        EXPECT_LT(cv::norm(cv::Point2d(m.m10, m.m01) / m.m00 - cv::Point2d(238, 146)), 8)
            << mirrored;
        const cv::Rect box = cv::boundingRect(painted);
        // From before the visible eye, off the ear, to just beyond the bridge.
        EXPECT_GT(box.x, 205) << "on the ear; mirrored " << mirrored;
        EXPECT_LT(box.x, 226) << mirrored;
        EXPECT_GT(box.br().x, 252) << mirrored;
        EXPECT_LT(box.br().x, 252 + 19) << "far beyond the bridge; mirrored " << mirrored;
    }

    // Three-quarter faces of the clip's woman: followed to frame 80, turned by 0.49 as the
    // detector sees her and nearly as far by her landmarks' nose tip against the jaw line (by
    // their eyes only 0.1); frame 110 alone, her landmarks turned against the detector's -0.25.
    cv::VideoCapture clip(FACELUME_TEST_PICTURES "/Megamind.avi");
    cv::Mat frame;
    tracker.reset();
    for (int i = 0; i <= 80 && clip.read(frame); ++i) track(frame, 1);
    const std::vector<Face> followed = tracker.faces();
    const cv::Mat alone = TestPictures::videoFrame("Megamind.avi", 110);
    for (const auto& [turned, faces] : {std::pair{frame, followed}, {alone, still(alone)}})
        EXPECT_EQ(cv::countNonZero(paint(turned, faces, true) != paint(turned, faces, false)), 0);
}

}  // namespace
}  // namespace facelume
