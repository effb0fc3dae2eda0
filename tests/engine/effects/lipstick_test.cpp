#include "lipstick.h"

#include <gtest/gtest.h>

#include "engine.h"
#include "face_tracker.h"
#include "test_pictures.h"

namespace facelume {
namespace {

using LipstickTest = PortraitTest;

TEST_F(LipstickTest, StaysOnTheLipsOfASmallSmilingFace) {
    // The smiling portrait at a quarter of its size: an eye distance of about 22 pixels.
    constexpr float kScale = 0.25f;
    cv::Mat small;
    cv::resize(portrait, small, cv::Size(), kScale, kScale, cv::INTER_AREA);
    Face smallFace = face;
    for (cv::Point2f& p : smallFace.landmarks)
        p = (p + cv::Point2f(0.5f, 0.5f)) * kScale - cv::Point2f(0.5f, 0.5f);
    smallFace.eyeDistance *= kScale;
    Lipstick lipstick(TestPictures::resourceFolder());
    lipstick.configure("red", 1.f);
    cv::Mat after = small.clone();
    lipstick.apply(after, {smallFace});

    // The lip polygon: pixels whose centre lies inside the outer lip line.
    cv::Mat lipPolygon(small.size(), CV_8UC1, cv::Scalar(0));
    std::vector<cv::Point> outline;
    for (int i : kOuterLips)
        outline.push_back(cv::Point(cvRound(smallFace.landmarks[i].x * 16),
                                    cvRound(smallFace.landmarks[i].y * 16)));
    cv::fillPoly(lipPolygon, std::vector<std::vector<cv::Point>>{outline}, cv::Scalar(255),
                 cv::LINE_8, 4);
    cv::Mat change;
    cv::absdiff(small, after, change);
    cv::transform(change, change, cv::Matx13f(1.f, 1.f, 1.f));
    const double inside = cv::sum(change & lipPolygon)[0];
    const double outside = cv::sum(change)[0] - inside;
    EXPECT_GT(inside, 0.0);
    EXPECT_LT(outside, 0.08 * (inside + outside));
}

TEST_F(LipstickTest, NamedAndHexColoursAreTheSame) {
    Lipstick byName(TestPictures::resourceFolder()), byHex(TestPictures::resourceFolder());
    byName.configure("Red", 0.8f);  // the table has red: "#c41e3a"
    byHex.configure("#C41E3A", 0.8f);
    ASSERT_TRUE(byName.active());
    ASSERT_TRUE(byHex.active());
    EXPECT_EQ(cv::norm(painted(byName), painted(byHex), cv::NORM_INF), 0.0);
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

}  // namespace
}  // namespace facelume
