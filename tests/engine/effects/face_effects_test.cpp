// What every effect painted on faces shares: nothing painted without a usable face (none, one
// gone, one with broken landmarks), opacity following presence and strength, every face painted,
// and faces at the edge or frames of any size handled without a failure. Where each make-up
// paints on the portrait and where it must not, and blush and lipstick on dark skin, small faces
// and turned heads. And what every effect named by the user shares: a name it cannot use turns it
// off with one line saying why.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "blush.h"
#include "engine.h"
#include "eyebrow_makeup.h"
#include "face_tracker.h"
#include "lipstick.h"
#include "lut_filter.h"
#include "sticker_overlay.h"
#include "test_pictures.h"

namespace facelume {
namespace {

struct FaceEffect {
    const char* name;
    // The effect turned on at strength (1 when it has no strength).
    std::function<std::unique_ptr<Effect>(float strength)> make;
};

void PrintTo(const FaceEffect& effect, std::ostream* out) { *out << effect.name; }

template <typename Makeup>
FaceEffect makeup(const char* name, const char* colour) {
    return {name, [colour](float strength) {
                auto effect = std::make_unique<Makeup>(TestPictures::resourceFolder());
                effect->configure(colour, strength);
                return effect;
            }};
}

const FaceEffect kFaceEffects[] = {
    makeup<Lipstick>("lipstick", "red"),
    makeup<Blush>("blush", "pink"),
    makeup<EyebrowMakeup>("eyebrow", "darkbrown"),
    {"sticker",
     [](float strength) -> std::unique_ptr<Effect> {
         if (strength != 1.f) return nullptr;
         auto sticker = std::make_unique<StickerOverlay>(TestPictures::resourceFolder());
         sticker->configure("glasses");
         return sticker;
     }},
};

class FaceEffectsTest : public PortraitTest, public ::testing::WithParamInterface<FaceEffect> {};

TEST_P(FaceEffectsTest, PaintsUsableFacesByPresenceAndStrengthAndSurvivesEdges) {
    const std::unique_ptr<Effect> effect = GetParam().make(1.f);
    ASSERT_TRUE(effect->active());
    const double full = meanChange(painted(*effect), cv::Mat());
    EXPECT_GT(full, 0.0);

    Face gone = face, broken = face, half = face;
    gone.presence = 0.f;
    for (const size_t i : {2, 19, 36, 50}) broken.landmarks[i].x = std::nanf("");  // one each
    half.presence = 0.5f;
    for (const std::vector<Face>& unusable : {std::vector<Face>{}, {gone}, {broken}})
        EXPECT_EQ(maxChange(painted(*effect, unusable)), 0.0);
    EXPECT_NEAR(meanChange(painted(*effect, {half}), cv::Mat()), full / 2, full * 0.1);
    if (const std::unique_ptr<Effect> halfStrength = GetParam().make(0.5f)) {
        EXPECT_NEAR(meanChange(painted(*halfStrength), cv::Mat()), full / 2, full * 0.1);
    }

    // A second face further right is painted too.
    const Face right = TestPictures::moved(face, {300, 0});
    EXPECT_GT(cv::norm(painted(*effect, {face, right}), painted(*effect), cv::NORM_INF), 20.0);

    // Faces half out of the frame or far outside it, on frames of any size: no failure.
    const std::vector<Face> edges{TestPictures::moved(face, {-470, 0}),
                                  TestPictures::moved(face, {550, 0}),
                                  TestPictures::moved(face, {-5000, -4000})};
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(3, 5), cv::Size(1920, 1080)}) {
        cv::Mat frame(size, CV_8UC3, cv::Scalar(10, 20, 30));
        EXPECT_EQ(stderrOf([&] { effect->apply(frame, edges); }), "") << size;
    }
    EXPECT_EQ(stderrOf([&] { painted(*effect, edges); }), "");
}

INSTANTIATE_TEST_SUITE_P(, FaceEffectsTest, ::testing::ValuesIn(kFaceEffects),
                         [](const auto& info) { return std::string(info.param.name); });

// picture in CIE Lab.
cv::Mat lab(const cv::Mat& bgr) {
    cv::Mat out;
    bgr.convertTo(out, CV_32F, 1.0 / 255.0);
    cv::cvtColor(out, out, cv::COLOR_BGR2Lab);
    return out;
}

// How much the brightness varies over the mask.
double lumaSpread(const cv::Mat& bgr, const cv::Mat& mask) {
    cv::Mat grey;
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    cv::Scalar mean, spread;
    cv::meanStdDev(grey, mean, spread, mask);
    return spread[0];
}

// A dark-skinned stand-in for a picture: its lightness in CIE Lab brought down to 35 % with the
// colour's a and b kept a little stronger, as deep brown skin is (dimming in RGB would also
// grey the colour).
cv::Mat darkSkinned(const cv::Mat& bgr) {
    cv::Mat dark;
    cv::cvtColor(lab(bgr).mul(cv::Scalar(0.35, 1.1, 1.2)), dark, cv::COLOR_Lab2BGR);
    dark.convertTo(dark, CV_8U, 255.0);
    return dark;
}

// Mean CIE Lab distance (delta E 1976) between two pictures over the mask.
double deltaE(const cv::Mat& before, const cv::Mat& after, const cv::Mat& mask) {
    cv::Mat difference = lab(before) - lab(after);
    cv::transform(difference.mul(difference), difference, cv::Matx13f(1.f, 1.f, 1.f));
    cv::sqrt(difference, difference);
    return cv::mean(difference, mask)[0];
}

using MakeupPlacementTest = PortraitTest;

TEST_F(MakeupPlacementTest, EachMakeupPaintsItsPartOfTheFaceAndNothingElse) {
    EXPECT_FALSE(Blush(TestPictures::resourceFolder()).active());
    Blush blush(TestPictures::resourceFolder());
    Lipstick lipstick(TestPictures::resourceFolder());
    EyebrowMakeup brows(TestPictures::resourceFolder());
    blush.configure("pink", 1.f);
    lipstick.configure("#C41E3A", 1.f);
    brows.configure("darkbrown", 1.f);
    const auto& p = face.landmarks;
    const cv::Point2f up(0, face.eyeDistance);
    // Each cheek's apple: half way between the jaw line and the nose wing, below the eye.
    const cv::Mat rightCheek = disc((p[2] + p[31]) * 0.5f, 0.12f);
    const cv::Mat leftCheek = disc((p[14] + p[35]) * 0.5f, 0.12f);
    const double onCheek = meanChange(painted(blush), rightCheek);
    std::vector<int> contour = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    contour.insert(contour.end(), {26, 25, 24, 23, 22, 21, 20, 19, 18, 17});
    const std::vector<int> mouthOpening = {60, 61, 62, 63, 64, 65, 66, 67};
    // Lips alone, a few pixels inside their edges.
    cv::Mat lips = landmarkMask(kOuterLips, -2);
    lips.setTo(0, landmarkMask(mouthOpening, 3));
    const cv::Mat teeth = landmarkMask(mouthOpening, -3);
    ASSERT_GT(cv::countNonZero(lips), 300);
    ASSERT_GT(cv::countNonZero(teeth), 100) << "the portrait shows her teeth";
    const cv::Scalar pinker(0, -1, 1), redder(-0.5, -0.5, 1), darker(-0.114, -0.587, -0.299);
    const struct {
        Effect& effect;
        const char* where;
        cv::Mat mask;
        double changeAbove, changeBelow;  // mean change; changeBelow 0: not one pixel changed
        cv::Scalar towards = {};  // the mean colour moves along (blue, green, red) by shiftAbove
        double shiftAbove = -1;
    } cases[] = {
        {blush, "right cheek", rightCheek, 6, 255, pinker, 5},
        {blush, "left cheek", leftCheek, 6, 255, pinker, 5},
        // The nose (ridge, tip, between the nostrils), the eyes and the lips stay.
        {blush, "nose", landmarkMask({27, 31, 32, 33, 34, 35}, -1), -1, 0.1 * onCheek},
        {blush, "nose tip", disc(p[30], 0.1f), 0, 0},
        {blush, "right eye", landmarkMask(kRightEye, 2), -1, 0.5},
        {blush, "left eye", landmarkMask(kLeftEye, 2), -1, 0.5},
        {blush, "lips", landmarkMask(kOuterLips), -1, 0.5},
        {blush, "off the face", ~landmarkMask(contour, 8), 0, 0},
        {lipstick, "lips", lips, 20, 255, redder, 30},
        {lipstick, "teeth", teeth, -1, 1},
        {lipstick, "chin", disc(p[8] * 0.6f + p[57] * 0.4f, 0.15f), 0, 0},
        {lipstick, "off the lips", ~landmarkMask(kOuterLips, 6), 0, 0},
        {brows, "right brow", disc(p[19], 0.05f), -1, 255, darker, 15},
        {brows, "left brow", disc(p[24], 0.05f), -1, 255, darker, 15},
        {brows, "forehead", disc(p[19] - 0.4f * up, 0.1f) | disc(p[24] - 0.4f * up, 0.1f), 0, 0},
        {brows, "between the brows", disc(p[27] - 0.05f * up, 0.08f), 0, 0},
        {brows, "eyes", landmarkMask(kRightEye, 1) | landmarkMask(kLeftEye, 1), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        const cv::Mat after = painted(c.effect);
        if (c.changeBelow == 0) {
            EXPECT_EQ(maxChange(after, c.mask), 0.0);
            continue;
        }
        EXPECT_GT(meanChange(after, c.mask), c.changeAbove);
        EXPECT_LT(meanChange(after, c.mask), c.changeBelow);
        EXPECT_GT((cv::mean(after, c.mask) - cv::mean(portrait, c.mask)).dot(c.towards),
                  c.shiftAbove);
    }
    // Shading and highlights stay on the lips: the brightness still varies across them.
    EXPECT_GT(lumaSpread(painted(lipstick), lips), 0.5 * lumaSpread(portrait, lips));
    // A stronger colour tints: blue brows are bluer than brown ones.
    const cv::Scalar brown = cv::mean(painted(brows), disc(p[19], 0.05f));
    brows.configure("#2040a0", 1.f);
    const cv::Scalar blue = cv::mean(painted(brows), disc(p[19], 0.05f));
    EXPECT_GT(blue[0] - blue[2], brown[0] - brown[2] + 10);
    // Colour names are those of the colour table, in any case: red is #c41e3a.
    Lipstick byName(TestPictures::resourceFolder());
    byName.configure("Red", 1.f);
    EXPECT_EQ(cv::norm(painted(byName), painted(lipstick), cv::NORM_INF), 0.0);
    // Blush shows as much on dark skin as on light.
    blush.configure("blossom", 1.f);
    const cv::Mat dark = darkSkinned(portrait);
    cv::Mat darkAfter = dark.clone();
    blush.apply(darkAfter, {face});
    const double onLight = deltaE(portrait, painted(blush), rightCheek | leftCheek);
    const double onDark = deltaE(dark, darkAfter, rightCheek | leftCheek);
    EXPECT_GT(onDark, onLight / 1.2);
    EXPECT_LT(onDark, onLight * 1.2);
}

using EffectNamesTest = PortraitTest;

TEST_F(EffectNamesTest, WhatCannotBeUsedTurnsTheEffectOffWithOneLineAndNoNameWithout) {
    ScratchFolder folder;
    const std::string invert =
        "LUT_3D_SIZE 2\n1 1 1\n0 1 1\n1 0 1\n0 0 1\n1 1 0\n0 1 0\n1 0 0\n0 0 0\n";
    folder.write("filters/invert.cube", invert);
    folder.write("invert.cube", invert);  // outside the filters folder
    folder.write("filters/broken.cube", "TITLE \"broken\"\nLUT_3D_SIZE 2\n0 0 0\n1 x 0\n");
    folder.write("stickers/bar.yml", "%YAML:1.0\n---\nanchor: [36, 39, 42, 45]\nwidth: 2.0\n");
    folder.write("stickers/wrong.yml", "%YAML:1.0\n---\nanchor: [36, 70]\nwidth: 2.0\n");
    folder.write("stickers/junk.yml", "%YAML:1.0\n---\nanchor: [30]\nwidth: 1.0\n");
    folder.write("stickers/junk.png", "not a picture");
    for (const char* name : {"bar", "lonely", "wrong"}) {
        cv::imwrite(folder.path() + "/stickers/" + name + ".png",
                    cv::Mat(8, 8, CV_8UC4, cv::Scalar::all(255)));
    }
    LutFilter lut(folder.path()), nowhere("/nonexistent/beauty_res");
    StickerOverlay sticker(folder.path());
    Lipstick lips(TestPictures::resourceFolder());
    const auto configure = [&](Effect& effect, const char* name, float strength) {
        if (&effect == &sticker) return sticker.configure(name);
        if (&effect == &lips) return lips.configure(name, strength);
        static_cast<LutFilter&>(effect).configure(name, strength);
    };
    const struct {
        Effect& effect;
        const char* name;
        float strength;
        const char* message;  // nullptr: off without a word
    } cases[] = {
        {lut, "sunset", 1, "\"sunset\""},
        {lut, "sunset", 1, "broken, invert"},
        {lut, "broken", 1, "broken.cube line 4: expected three numbers"},
        {lut, "../invert", 1, ""},
        {nowhere, "warm", 1, ": none"},
        {sticker, "rocket", 1, "unknown sticker \"rocket\""},
        {sticker, "lonely", 1, "lonely.yml: no such file"},
        {sticker, "wrong", 1, "must list landmark numbers, 0 to 67"},
        {sticker, "junk", 1, "junk.png: not a readable picture"},
        {sticker, "../stickers/bar", 1, "available in"},
        {lips, "ultraviolet", 1, "\"ultraviolet\", use #rrggbb or one of: apricot, auburn, berry"},
        {lips, "#12345g", 1, "\"#12345g\""},
        {lips, "#1234", 1, "\"#1234\""},
        {lips, "#c41e3a0", 1, "\"#c41e3a0\""},
        {lips, "c41e3a", 1, "\"c41e3a\""},
        {lips, "red", 0, nullptr},
        {lips, "red", -0.5f, nullptr},
        {lut, nullptr, 1, nullptr},
        {lut, "", 1, nullptr},
        {sticker, nullptr, 1, nullptr},
        {sticker, "", 1, nullptr},
        {lips, nullptr, 1, nullptr},
        {lips, "", 1, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        lut.configure("invert", 1);
        sticker.configure("bar");
        lips.configure("red", 1);
        ASSERT_TRUE(c.effect.active() || &c.effect == &nowhere);
        const std::string output = stderrOf([&] { configure(c.effect, c.name, c.strength); });
        EXPECT_FALSE(c.effect.active());
        EXPECT_EQ(output.empty(), c.message == nullptr) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), c.message ? 1 : 0) << output;
        EXPECT_NE(output.find(c.message ? c.message : ""), std::string::npos) << output;
        EXPECT_EQ(maxChange(painted(c.effect)), 0.0);
    }
}

TEST(MakeupOnTurnedHeadsTest, BlushStaysOnTheNearCheeksAppleAndBrowsFadeWhereTheFitLags) {
    // Faces as the tracker hands them on from the learned detector, with its turn or without.
    // The cameraman's landmarks lag far behind his turn into near profile: his jaw line runs by
    // his ear (which ends at x = 198), his near brow's landmarks lie on it and his far cheek's on
    // his nose (its tip at (250, 162)); the apple of his cheek is about (215, 162). The basketball
    // player and the footballer are three-quarter faces fitted well: the near cheek's apple lies
    // between the jaw line and the nose wing (landmark 31), clear of it.
    FaceTracker tracker(TestPictures::fitter(), DetectionWorker::Mode::Synchronous,
                        TestPictures::resourceFolder() + "/" + Engine::kDetectorModelFile);
    Blush blush(TestPictures::resourceFolder());
    EyebrowMakeup brows(TestPictures::resourceFolder());
    blush.configure("#ff0000", 1.f);
    brows.configure("darkbrown", 1.f);
    Face face;
    // What effect changes (the three channels summed) on the face tracked in picture.
    const auto change = [&](Effect& effect, const cv::Mat& picture, bool turnKnown = true) {
        cv::Mat grey, after = picture.clone(), difference;
        cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
        tracker.reset();
        for (int i = tracker.findFrames(grey.size()); i > 0; --i) tracker.update(grey);
        face = tracker.faces().at(0);
        face.turn = turnKnown ? face.turn : NAN;
        effect.apply(after, {face});
        cv::absdiff(picture, after, difference);
        difference.convertTo(difference, CV_32F);
        cv::transform(difference, difference, cv::Matx13f(1.f, 1.f, 1.f));
        return difference;
    };
    const auto around = [](const cv::Mat& difference, cv::Point2f centre, float radius) {
        cv::Mat disc(difference.size(), CV_8UC1, cv::Scalar(0));
        cv::circle(disc, centre, cvRound(radius), cv::Scalar(255), cv::FILLED);
        return cv::mean(difference, disc)[0];
    };
    const cv::Mat cameraman = TestPictures::load("camera.png");
    for (const bool turnKnown : {true, false}) {
        const cv::Mat blushed = change(blush, cameraman, turnKnown);
        EXPECT_LT(cv::sum(blushed.colRange(0, 198))[0], 0.25 * cv::sum(blushed)[0]);
        EXPECT_GT(around(blushed, {215, 162}, 8), 20.0);
        // Without the turn nothing tells that the far cheek's faint patch lies on his nose.
        EXPECT_LT(around(blushed, {250, 162}, 8), turnKnown ? 1.0 : 10.0);
    }
    EXPECT_EQ(cv::sum(change(brows, cameraman))[0], 0.0);
    for (const char* name : {"basketball1.png", "messi5.jpg"}) {
        const cv::Mat picture = TestPictures::load(name), blushed = change(blush, picture);
        const float radius = 0.15f * face.eyeDistance;
        const cv::Point2f wing = face.landmarks[31], apple = (wing + face.landmarks[2]) * 0.5f;
        EXPECT_LT(around(blushed, wing, radius), 5.0) << name;
        EXPECT_GT(around(blushed, apple, radius), 20.0) << name;
        EXPECT_GT(cv::sum(change(brows, picture))[0], 1000.0) << name;
    }
}

using LipstickTest = PortraitTest;

TEST_F(LipstickTest, StaysOnTheLipsOfASmallSmilingFace) {
    // The smiling portrait at a quarter of its size: an eye distance of about 22 pixels.
    constexpr float kScale = 0.25f;
    cv::Mat small;
    cv::resize(portrait, small, cv::Size(), kScale, kScale, cv::INTER_AREA);
    // Pixel centres scale about the corner of the first pixel.
    const Face smallFace = TestPictures::moved(face, {}, kScale, 0, {-0.5f, -0.5f});
    Lipstick lipstick(TestPictures::resourceFolder());
    lipstick.configure("red", 1.f);
    cv::Mat after = small.clone();
    lipstick.apply(after, {smallFace});

    const cv::Mat lipPolygon = TestPictures::landmarkMask(small.size(), smallFace, kOuterLips);
    const double inside = cv::norm(small, after, cv::NORM_L1, lipPolygon);
    const double outside = cv::norm(small, after, cv::NORM_L1) - inside;
    EXPECT_GT(inside, 0.0);
    EXPECT_LT(outside, 0.08 * (inside + outside));
}

TEST(LipstickOnTurnedHeadsTest, ColoursThreeQuarterFacesInFullAndLeavesAProfileAlone) {
    // Faces as the tracker hands them on from the learned detector. The cameraman's landmarks,
    // fitted to a near profile, spread his mouth over the cheek behind it (his visible lips end
    // at x = 231); the turned faces of the footballer and of the clip keep their fitted lips and
    // get as much colour as where the turn is unknown.
    FaceTracker tracker(TestPictures::fitter(), DetectionWorker::Mode::Synchronous,
                        TestPictures::resourceFolder() + "/" + Engine::kDetectorModelFile);
    Lipstick lipstick(TestPictures::resourceFolder());
    lipstick.configure("red", 1.f);
    const auto paint = [&](const cv::Mat& picture, bool turnKnown) {
        cv::Mat grey;
        cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
        tracker.reset();
        for (int i = tracker.findFrames(grey.size()); i > 0; --i) tracker.update(grey);
        std::vector<Face> faces = tracker.faces();
        EXPECT_EQ(faces.size(), 1u);
        for (Face& face : faces) face.turn = turnKnown ? face.turn : NAN;
        cv::Mat after = picture.clone();
        lipstick.apply(after, faces);
        return after;
    };
    const cv::Mat cameraman = TestPictures::load("camera.png");
    EXPECT_EQ(cv::norm(cameraman, paint(cameraman, true), cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(cameraman(cv::Rect(0, 0, 231, 512)),
                       paint(cameraman, false)(cv::Rect(0, 0, 231, 512)), cv::NORM_L1),
              5000.0)
        << "without the detector's turn, the cheek is coloured";
    for (const cv::Mat& turned :
         {TestPictures::load("messi5.jpg"), TestPictures::videoFrame("Megamind.avi", 80)}) {
        const cv::Mat known = paint(turned, true);
        EXPECT_GT(cv::norm(turned, known, cv::NORM_L1), 2000.0);
        EXPECT_EQ(cv::norm(known, paint(turned, false), cv::NORM_INF), 0.0);
    }
}

TEST(LipstickOnABowedHeadTest, ColoursTheBoysLipsNotHisChinAndLeavesLipsFittedRightAlone) {
    // The team photograph at full size, faces as the tracker hands them on. The boy with the red
    // cap bows his head: the landmarks take the fold under his lower lip for the line between his
    // lips. Measured by hand in the picture: his upper lip runs from below the nostrils (y = 2110)
    // to the line between the lips (y = 2117), his lit lower lip down to y = 2127, then the fold
    // and, from y = 2136, his chin; the middle of his mouth spans x = 1665 to 1700.
    const cv::Mat picture = TestPictures::load("robocracy2018.jpg");
    ASSERT_FALSE(picture.empty());
    FaceTracker tracker(TestPictures::fitter(), DetectionWorker::Mode::Synchronous,
                        TestPictures::resourceFolder() + "/" + Engine::kDetectorModelFile);
    cv::Mat grey, change, frame;
    const auto trackIn = [&](const cv::Mat& shown) {
        cv::cvtColor(shown, grey, cv::COLOR_BGR2GRAY);
        tracker.reset();
        for (int i = tracker.findFrames(grey.size()); i > 0; --i) tracker.update(grey);
    };
    Lipstick lipstick(TestPictures::resourceFolder());
    lipstick.configure("red", 1.f);
    const cv::Rect boy(1600, 2000, 160, 200), lips(1665, 2111, 36, 15), chin(1665, 2137, 36, 10);
    const cv::Rect foldAndChin(1665, 2128, 36, 19);
    // His lips painted and his chin not, measured as the mean change per channel value: lipstick
    // changes dark skin less, and lips laid low paint the fold under his lower lip too.
    const auto paintedOnTheBoy = [&](const cv::Mat& before, const char* light) {
        cv::Mat after = before.clone();
        lipstick.apply(after, tracker.faces());
        cv::absdiff(before, after, change);
        const auto changed = [&](const cv::Rect& box) {
            return cv::sum(cv::mean(change(box)))[0] / 3;
        };
        EXPECT_GT(changed(lips), 10.0) << light;
        EXPECT_GT(changed(lips), 3 * changed(foldAndChin)) << light;
        EXPECT_LT(changed(chin), 1.0) << light;
    };
    // Only brightness tells where his lips are, so a grey print of him gets them too.
    trackIn(picture);
    paintedOnTheBoy(picture, "colour");
    paintedOnTheBoy(TestPictures::relit(picture, TestPictures::Light::Grey), "grey");
    // Elsewhere lipstick stays inside the lips the landmarks fitted.
    const auto paintedOutsideFittedLips = [&](const cv::Mat& before, cv::Mat outside) {
        cv::Mat painted = before.clone();
        lipstick.apply(painted, tracker.faces());
        for (const Face& face : tracker.faces()) {
            outside.setTo(
                0, TestPictures::landmarkMask(before.size(), face,
                                              {48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59}, 2));
        }
        return cv::norm(before, painted, cv::NORM_INF, outside);
    };
    cv::Mat elsewhere(picture.size(), CV_8UC1, cv::Scalar(255));
    elsewhere(boy).setTo(0);
    EXPECT_EQ(tracker.faces().size(), 8u);
    EXPECT_EQ(paintedOutsideFittedLips(picture, elsewhere), 0.0);
    // Each light's own fit lays his lips low too: in sepia and as the dark-skinned stand-in the
    // fitted upper lip takes in the fold below his lit lower lip, so only its highlights show it
    // lit; in a blue flash the two dark lines differ little in depth.
    for (const auto& [relit, light] :
         {std::pair(TestPictures::relit(picture, TestPictures::Light::Sepia), "sepia"),
          std::pair(TestPictures::relit(picture, TestPictures::Light::BlueFlash), "blue flash"),
          std::pair(darkSkinned(picture), "dark-skinned")}) {
        trackIn(relit);
        paintedOnTheBoy(relit, light);
    }

    // The clip's woman, her fit right, smiles with her upper teeth showing: in these frames her
    // fitted lower lip is no lighter than the upper one and the line under her nose is the deeper,
    // but it is the nose's lower edge and ends at the nose's sides.
    cv::VideoCapture clip(FACELUME_TEST_PICTURES "/Megamind.avi");
    tracker.reset();
    for (int i = 0; i <= 23 && clip.read(frame); ++i) {
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        tracker.update(grey);
        if (i < 22) continue;
        EXPECT_EQ(tracker.faces().size(), 1u) << "frame " << i;
        EXPECT_EQ(paintedOutsideFittedLips(frame, cv::Mat(frame.size(), CV_8UC1, 255)), 0.0)
            << "frame " << i;
    }
}

TEST(BlushUnderGlassesTest, StaysOffTheLensesAndShowsBelowThem) {
    // Measured by hand in the pictures: just inside a lens's lower rim, and the cheek just below
    // it. Hopper's left rim is light and rises toward the temple, below a crease. The team's girl
    // bends her head, so her lenses cover her cheeks. The man in the clip has thin metal rims that
    // curve down below his right eye, lowest at its outer corner; the left one is lit.
    const struct {
        const char* picture;
        int frame;  // of a clip, -1 for a picture
        cv::Rect crop, lens, cheek;
    } cases[] = {
        {"grace_hopper.jpg", -1, {0, 0, 512, 600}, {205, 212, 35, 12}, {205, 236, 35, 15}},
        {"grace_hopper.jpg", -1, {0, 0, 512, 600}, {292, 214, 35, 12}, {292, 238, 35, 15}},
        {"robocracy2018.jpg", -1, {1077, 1930, 260, 260}, {88, 140, 39, 15}, {88, 166, 39, 15}},
        {"robocracy2018.jpg", -1, {1077, 1930, 260, 260}, {159, 136, 36, 15}, {159, 162, 36, 15}},
        {"Megamind.avi", 220, {0, 0, 720, 528}, {300, 232, 40, 10}, {300, 262, 40, 15}},
        {"Megamind.avi", 220, {0, 0, 720, 528}, {445, 236, 40, 10}, {445, 262, 40, 15}},
    };
    for (const auto& c : cases) {
        const cv::Mat picture =
            (c.frame < 0 ? TestPictures::load(c.picture)
                         : TestPictures::videoFrame(c.picture, c.frame))(c.crop);
        Blush blush(TestPictures::resourceFolder());
        blush.configure("#ff0000", 1.f);
        cv::Mat after = picture.clone(), change;
        blush.apply(after, {TestPictures::faceIn(picture)});
        cv::absdiff(picture, after, change);
        EXPECT_LT(cv::mean(change(c.lens))[0], 1.0) << c.picture << c.lens;
        EXPECT_GT(cv::mean(change(c.cheek))[0], 5.0) << c.picture << c.cheek;
        // Below the rim the paint fades in over rows (steps of 2 to 4 here between two rows), not
        // from a hard line across the cheek (6 to 12).
        cv::Mat rows;
        cv::reduce(change(c.lens | c.cheek).reshape(1), rows, 1, cv::REDUCE_AVG, CV_32F);
        double steepest = 0;
        cv::minMaxLoc(rows.rowRange(1, rows.rows) - rows.rowRange(0, rows.rows - 1), nullptr,
                      &steepest);
        EXPECT_LT(steepest, 4.5) << c.picture << c.lens;
    }
}

}  // namespace
}  // namespace facelume
