// What every effect painted on faces shares: nothing painted without a usable face (none, one
// gone, one with broken landmarks), opacity following presence and strength, every face painted,
// and faces at the edge or frames of any size handled without a failure.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "blush.h"
#include "eyebrow_makeup.h"
#include "lipstick.h"
#include "sticker_overlay.h"
#include "test_pictures.h"

namespace facelume {
namespace {

using namespace facelume::test;

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

Face shifted(Face face, cv::Point2f by) {
    for (cv::Point2f& p : face.landmarks) p += by;
    return face;
}

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
    const Face right = shifted(face, {300, 0});
    EXPECT_GT(cv::norm(painted(*effect, {face, right}), painted(*effect), cv::NORM_INF), 20.0);

    // Faces half out of the frame or far outside it, on frames of any size: no failure.
    const std::vector<Face> edges{shifted(face, {-470, 0}), shifted(face, {-5000, -4000})};
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(3, 5), cv::Size(1920, 1080)}) {
        cv::Mat frame(size, CV_8UC3, cv::Scalar(10, 20, 30));
        EXPECT_EQ(stderrOf([&] { effect->apply(frame, edges); }), "") << size;
    }
    EXPECT_EQ(stderrOf([&] { painted(*effect, edges); }), "");
}

INSTANTIATE_TEST_SUITE_P(, FaceEffectsTest, ::testing::ValuesIn(kFaceEffects),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace facelume
