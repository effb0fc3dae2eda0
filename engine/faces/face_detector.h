#pragma once

// Finds frontal faces in a grey frame with dlib's HOG detector. The detector finds upright faces
// (up to about 30 degrees of roll) of about 80 pixels and more, so callers scan a region turned
// and scaled to suit the faces they look for: turned to find tilted heads, enlarged to find
// small faces. Not thread-safe: each thread uses its own detector. The first construction in a
// process unpacks dlib's built-in model (about a third of a second); later ones copy it.

#include <cmath>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

namespace facelume {

struct Detection {
    // The face's box in its own upright frame, centred where the face is in the frame.
    cv::Rect2f box;
    double score = 0.0;
    // In-plane rotation of the face in radians, as Face::roll.
    float roll = 0.f;
    // How far the head is turned aside, as Face::turn; NaN when the detector cannot tell.
    float turn = NAN;
    // How far below the eye line the detector put the nose tip, in eye distances (about 0.5);
    // NaN when the detector cannot tell.
    float noseDepth = NAN;
    // A score the detector gives patterns about as often as faces: the landmarks must agree.
    bool weak = false;
    // A score only faces get: their eyes are judged more loosely (see FacePlausibility).
    bool strong = false;
    // How far apart the detector put the eyes (pixels); NaN when it cannot tell. Much closer
    // than the face's own eyes on a near profile, whose key points then give no roll.
    float eyeDistance = NAN;
};

// A part of a frame to scan: centre and size in frame pixels, the scale it is scanned at (2 finds
// faces half the detector's window) and the roll (radians) of the faces it looks for.
struct ScanRegion {
    cv::Point2f centre;
    cv::Size2f size;
    double scale = 1.0;
    float roll = 0.f;
};

class FaceDetector {
public:
    FaceDetector();
    ~FaceDetector();
    FaceDetector(const FaceDetector&) = delete;
    FaceDetector& operator=(const FaceDetector&) = delete;

    // Detects upright faces in grey (CV_8UC1) and appends them in grey's coordinates. Images
    // smaller than the detector's window give nothing. A negative threshold also accepts weaker
    // detections.
    void detect(const cv::Mat& grey, std::vector<Detection>& found, double threshold = 0.0);

    // Detects in region of grey; boxes are in grey's coordinates. REQUIRES: region.scale > 0.
    void detectIn(const cv::Mat& grey, const ScanRegion& region, std::vector<Detection>& found,
                  double threshold = 0.0);

    // The smallest face (box side in pixels) found at scale 1.
    static constexpr int kWindowSize = 80;

private:
    struct Model;
    std::unique_ptr<Model> m_model;
    cv::Mat m_scaled;
    std::vector<Detection> m_scratch;
};

}  // namespace facelume
