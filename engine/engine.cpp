#include "engine.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "blush.h"
#include "control.h"
#include "eyebrow_makeup.h"
#include "face_tracker.h"
#include "face_warp.h"
#include "lipstick.h"
#include "lut_filter.h"
#include "skin_mask.h"
#include "skin_smoothing.h"
#include "skin_whitening.h"
#include "sticker_overlay.h"

namespace facelume {
namespace {

// Frames below this size in either direction carry no face worth tracking.
constexpr int kMinTrackedSide = 40;
// The largest frame accepted, in bytes: far above any camera, far below address-space trouble.
constexpr double kMaxFrameBytes = double(1u << 31);

}  // namespace

Engine::Engine(DetectionWorker::Mode detection)
    : m_detectionMode(detection),
      m_warp(std::make_unique<FaceWarp>()),
      m_skinMask(std::make_unique<SkinMask>()),
      m_smoothing(std::make_unique<SkinSmoothing>(*m_skinMask)),
      m_whitening(std::make_unique<SkinWhitening>(*m_skinMask)) {
    // OpenCV's worker threads cost more CPU than they save on a frame: handing rows out and
    // waiting for them (the pool spins before it sleeps) took the frame thread and the process
    // more time than running the rows on the frame thread alone, on a shared two-core machine.
    // The detection worker is the engine's second thread.
    cv::setNumThreads(0);
}

Engine::~Engine() {
    if (m_loading.joinable()) m_loading.join();
}

bool Engine::initialize(const std::string& resourceFolder, std::string& error) {
    std::error_code code;
    if (!std::filesystem::is_directory(resourceFolder, code)) {
        error = "the resource folder " + resourceFolder + " does not exist or cannot be read";
        return false;
    }
    const std::string model = resourceFolder + "/" + kModelFile;
    if (m_loading.joinable()) m_loading.join();
    if (!m_fitter.loaded()) {
        if (!LandmarkFitter::check(model, error)) {
            error += " (it comes from Debian's libdlib-data package; the build links it there)";
            return false;
        }
        // Reading the whole model takes a third of a second: the rest starts meanwhile, and the
        // first frame that needs the model waits for it.
        m_loading =
            std::thread([this, model] { m_loadFailed = !m_fitter.load(model, m_loadError); });
    }
    const std::string detector = resourceFolder + "/" + kDetectorModelFile;
    const bool haveDetector = std::filesystem::is_regular_file(detector, code);
    if (!haveDetector) {
        std::fprintf(stderr,
                     "facelume engine: no face detection model at %s (scripts/fetch-models.sh "
                     "fetches it); using dlib's HOG face detector\n",
                     detector.c_str());
    }
    m_tracker = std::make_unique<FaceTracker>(m_fitter, m_detectionMode,
                                              haveDetector ? detector : std::string());
    if (!m_tracker->detectorError().empty()) {
        std::fprintf(stderr, "facelume engine: %s\n", m_tracker->detectorError().c_str());
    }
    m_lipstick = std::make_unique<Lipstick>(resourceFolder);
    m_blush = std::make_unique<Blush>(resourceFolder);
    m_eyebrow = std::make_unique<EyebrowMakeup>(resourceFolder);
    m_filter = std::make_unique<LutFilter>(resourceFolder);
    m_sticker = std::make_unique<StickerOverlay>(resourceFolder);
    // Make-up paints on the shaped, smoothed skin; the colour look tints everything below it,
    // and the sticker goes on top, untinted.
    m_looks = {m_lipstick.get(), m_blush.get(), m_eyebrow.get(), m_filter.get(), m_sticker.get()};
    return true;
}

const unsigned char* Engine::process(int width, int height, const unsigned char* input) {
    if (!ready() || width <= 0 || height <= 0 || input == nullptr) return nullptr;
    if (double(width) * double(height) * 3.0 > kMaxFrameBytes) return nullptr;
    // The frame is copied into the engine's own buffer, which every effect then works on in
    // place and which is handed back as the output.
    const cv::Mat in(height, width, CV_8UC3, const_cast<unsigned char*>(input));
    in.copyTo(m_frame);
    if (width >= kMinTrackedSide && height >= kMinTrackedSide && landmarksReady()) {
        cv::cvtColor(m_frame, m_grey, cv::COLOR_BGR2GRAY);
        m_tracker->update(m_grey);
        m_faces = m_tracker->faces();
    } else {
        m_tracker->reset();
        m_faces.clear();
    }
    runEffects();
    return m_frame.data;
}

bool Engine::landmarksReady() {
    if (m_loading.joinable()) {
        m_loading.join();
        if (m_loadFailed) {
            std::fprintf(stderr, "facelume engine: %s; faces are not followed\n",
                         m_loadError.c_str());
        }
    }
    return m_fitter.loaded();
}

void Engine::runEffects() {
    const std::vector<Face>* faces = &m_faces;
    if (m_warp->active() && !m_faces.empty()) {
        m_warp->apply(m_frame, m_faces);
        m_warp->moveLandmarks(m_faces, m_warpedFaces);
        faces = &m_warpedFaces;
    }
    if (m_smoothing->active() || m_whitening->active()) {
        m_skinMask->update(m_frame, *faces);
        if (m_smoothing->active()) m_smoothing->apply(m_frame, *faces);
        if (m_whitening->active()) m_whitening->apply(m_frame, *faces);
    }
    for (Effect* look : m_looks) {
        if (look->active()) look->apply(m_frame, *faces);
    }
}

void Engine::setSkinWhite(float value) {
    m_whitening->setStrength(control(protocol::kSkinWhite).clamp(value));
}

void Engine::setSkinSmooth(float value) {
    m_smoothing->setStrength(control(protocol::kSkinSmooth).clamp(value));
}

void Engine::setEyeScale(float value) {
    m_warp->setEyeScale(control(protocol::kEyeScale).clamp(value));
}

void Engine::setFaceThin(float value) {
    m_warp->setFaceThin(control(protocol::kFaceThin).clamp(value));
}

void Engine::setFilter(const char* name, float strength) {
    if (m_filter) m_filter->configure(name, control(protocol::kFilter).clamp(strength));
}

void Engine::setSticker(const char* name) {
    if (m_sticker) m_sticker->configure(name);
}

void Engine::setLipstick(const char* colour, float strength) {
    if (m_lipstick) m_lipstick->configure(colour, control(protocol::kLipstick).clamp(strength));
}

void Engine::setCheeks(const char* colour, float strength) {
    if (m_blush) m_blush->configure(colour, control(protocol::kCheeks).clamp(strength));
}

void Engine::setEyebrow(const char* colour, float strength) {
    if (m_eyebrow) m_eyebrow->configure(colour, control(protocol::kEyebrow).clamp(strength));
}

}  // namespace facelume
