#pragma once

// The open effect engine: follows the faces in each frame and runs the effects over it in a
// fixed order (face shape, skin smoothing, skin whitening, make-up, colour filter, sticker).
//
// Every control starts at 0 or off. Values are clamped to their ranges (control.h); a null or unknown name
// turns its effect off. Once the frame size is stable, process() allocates nothing: every working
// image is a member and the output is the engine's own buffer, valid until the next process().
// One thread at a time; the face detection worker is internal. Errors come back as values;
// OpenCV and dlib may throw from inside process() and the C interface catches that.

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "detection_worker.h"
#include "effect.h"
#include "face.h"
#include "landmark_fitter.h"

namespace facelume {

class FaceTracker;
class FaceWarp;
class SkinMask;
class SkinSmoothing;
class SkinWhitening;
class LutFilter;
class StickerOverlay;
class Lipstick;
class Blush;
class EyebrowMakeup;

class Engine {
public:
    explicit Engine(DetectionWorker::Mode detection = DetectionWorker::Mode::Background);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Reads the resource folder (the landmark model in models/; the looks read theirs when a
    // name is chosen). On failure returns false and sets error to a sentence saying what is
    // missing. The controls of the looks take effect only after a successful initialize().
    [[nodiscard]] bool initialize(const std::string& resourceFolder, std::string& error);
    bool ready() const { return m_tracker != nullptr; }

    // Processes width x height BGR pixels (3 bytes each, no padding). Returns the processed
    // pixels, or null when the engine is not ready or the size is not positive.
    const unsigned char* process(int width, int height, const unsigned char* input);

    void setSkinWhite(float value);
    void setSkinSmooth(float value);
    void setEyeScale(float value);
    void setFaceThin(float value);
    void setFilter(const char* name, float strength);
    void setSticker(const char* name);
    void setLipstick(const char* colour, float strength);
    void setCheeks(const char* colour, float strength);
    void setEyebrow(const char* colour, float strength);

    // The faces of the last processed frame, as tracked (before the shape warp).
    const std::vector<Face>& faces() const { return m_faces; }

    static constexpr const char* kModelFile = "models/shape_predictor_68_face_landmarks.dat";
    // The learned face detector (see NeuralFaceDetector); without it dlib's HOG detector scans.
    static constexpr const char* kDetectorModelFile =
        "models/face_detection_front_128x128_barracuda.onnx";

private:
    void runEffects();
    // Waits for the landmark model loading since initialize(); false when it failed (said once
    // on standard error).
    bool landmarksReady();

    const DetectionWorker::Mode m_detectionMode;
    LandmarkFitter m_fitter;
    // Loads m_fitter beside the start of the rest of the engine and of the service.
    std::thread m_loading;
    bool m_loadFailed = false;
    std::string m_loadError;
    std::unique_ptr<FaceTracker> m_tracker;
    std::unique_ptr<FaceWarp> m_warp;
    std::unique_ptr<SkinMask> m_skinMask;
    std::unique_ptr<SkinSmoothing> m_smoothing;
    std::unique_ptr<SkinWhitening> m_whitening;
    // The looks, made by initialize() from the resource folder.
    std::unique_ptr<Lipstick> m_lipstick;
    std::unique_ptr<Blush> m_blush;
    std::unique_ptr<EyebrowMakeup> m_eyebrow;
    std::unique_ptr<LutFilter> m_filter;
    std::unique_ptr<StickerOverlay> m_sticker;

    std::vector<Effect*> m_looks;
    cv::Mat m_frame;
    cv::Mat m_grey;
    std::vector<Face> m_faces;
    std::vector<Face> m_warpedFaces;
};

}  // namespace facelume
