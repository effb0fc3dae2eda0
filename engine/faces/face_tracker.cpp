#include "face_tracker.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <opencv2/imgproc.hpp>

namespace facelume {
namespace {

// Frames arrive at about this rate; the stabiliser only needs the order of magnitude.
constexpr float kFrameSeconds = 1.f / 30.f;
// Frames that come on average faster than this (three times a camera's usual rate, well beyond a
// 60 Hz one) come from a file or a raw stream, not from a camera.
constexpr float kFastFrameSeconds = kFrameSeconds / 3.f;
// Scans around a lost face are scaled so that the face is about this many pixels.
constexpr float kRegionFaceSize = 100.f;
// The region scanned around a lost face, in sides of its box.
constexpr float kRegionSide = 2.2f;
// Detector scores that keep a tracked face (new faces need 0 from HOG, and
// NeuralFaceDetector::kThreshold from the learned detector).
constexpr double kKeepThreshold = -0.4;
constexpr double kKeepScore = 0.5;
// The smallest box (pixels) fitted.
constexpr float kMinFitSide = 12.f;
// A face box must be this much inside the frame to be fitted.
constexpr float kMinInside = 0.8f;
// A new face's box must keep this part of its width from the frame's edges.
constexpr float kEdgeMargin = 0.05f;
// Largest change of a face's size (log of the ratio) and of its position (in box widths) between
// the box a fit starts from and the box of its landmarks: from a detector's box, and from the
// face's own box in the frame before. A fit that shrinks faster than any zoom has lost the face
// (at the frame's edge it squeezes the face into what is left of it).
constexpr float kMaxScaleChange = 0.3f;
constexpr float kMaxFrameScaleChange = 0.08f;
constexpr float kMaxSlide = 0.35f;
// Two rolls (radians, 15 degrees) that give one landmark fit. A clear detection of a face
// followed at its right roll differs from it by up to 12 degrees on the test pictures (the
// cameraman aside), and the roll of a still face in camera noise moves by less than 4.
constexpr float kSameRoll = 0.26f;
// Beyond this roll (radians, 30 degrees) a fit of the upright box may not turn far enough to
// judge the detector's roll; a fit turned by kTurnedJudge (45 degrees) does.
constexpr float kSteepRoll = 0.52f;
constexpr float kTurnedJudge = 0.785f;
// A fit turns the eye line of a face from the roll it starts at part of the way to the face's own
// (the cameraman rolled 30 degrees is detected at 11.5: fitted there his eye line shows 15,
// fitted at 15 it shows 19, at 19 it shows 28). A fit that turned it by more than kSettled
// (radians, 3 degrees) is followed by up to kSettleFits fits, each from the roll the one before
// shows.
constexpr float kSettled = 0.05f;
constexpr int kSettleFits = 3;
// A detection whose key points put the eyes closer than this share of its fit's eye distance
// shows a near profile, whose key points give no roll: the cameraman's are 0.33 to 0.68 of it,
// those of the other test faces 0.82 to 1.43.
constexpr float kProfileEyes = 0.75f;
// The least nose depth (eye distances), the mean of the detector's and the fit's, of a weak
// detection: the test faces have 0.47 or more, the patterns 0.39 or less.
constexpr float kMinNoseDepth = 0.43f;
// The least grey of a weak detection's cheeks, as a share of the frame's light (the mean grey of
// its lightest part, a kThumbnail cell). In a face that dark, in the shadow of a lit picture, the
// shading that tells eyes from cheeks is a few grey levels, and dark hair shows as much: the
// test faces, dim ones too, have 0.39 or more, two animated heads of hair 0.14 or less.
constexpr double kMinCheekLight = 0.25;
// How many implausible boxes are remembered, and for how many frames.
constexpr size_t kMaxRejected = 8;
constexpr int kRejectedFrames = 60;
// Cuts: the mean grey difference (0..255) of two frames shrunk to a thumbnail. A pan of a tenth
// of the frame between two frames stays far below it; two different shots are far above.
const cv::Size kThumbnail(32, 24);
constexpr double kCutDifference = 24.0;
// A dim clip's shots differ by a third as many grey levels as lit ones. With each thumbnail's own
// light and contrast taken out (zero mean, unit spread), the clip's shots differ by 0.73 to 0.91
// of a spread, dimmed to a third with noise too; its frames within a shot by 0.08 at most. The
// spread counts as at least a few grey levels: a nearly flat frame's noise is no new shot.
constexpr double kCutShapeDifference = 0.4;
constexpr double kLeastSpread = 4.0;
// A face whose box, shrunk to a 16x16 thumbnail, differs from the one at its last fit by less
// than this mean grey difference is not fitted again. Sensor noise of 6 grey levels gives about
// 0.8, a move of a quarter pixel 1.5 and more; the comparison is with the last fit, so slow moves
// add up until they are fitted.
const cv::Size kLook(16, 16);
constexpr double kStillDifference = 1.2;
// A slid face is looked for this share of its box's width around where it was last, in at most
// this many steps. Within that reach of the frame's edge a face is fitted instead: a fit from
// where the slides left it squeezes a face that is leaving the frame, instead of losing it.
constexpr float kSlideReach = 0.5f;
constexpr int kSlideSteps = 4;
// A detection shows a face in about as much detail as an earlier one when its share of the
// detector's input is this part of the earlier one's or more: a face that moved a little into
// the next square of a kind keeps getting its turn from that kind.
constexpr float kComparableDetail = 0.8f;

float overlap(const cv::Rect2f& a, const cv::Rect2f& b) {
    const float inter = (a & b).area();
    const float smaller = std::min(a.area(), b.area());
    return smaller > 0.f ? inter / smaller : 0.f;
}

// How far apart two rolls (radians) are, either way round.
float rollsApart(float a, float b) { return std::abs(std::remainder(a - b, 2.f * float(CV_PI))); }

cv::Point2f eyeCentre(const Landmarks& l, size_t first) {
    cv::Point2f sum(0.f, 0.f);
    for (size_t i = first; i < first + 6; ++i) sum += l[i];
    return sum * (1.f / 6.f);
}

float eyeDistanceOf(const Landmarks& l) {
    const cv::Point2f across = eyeCentre(l, 42) - eyeCentre(l, 36);
    return float(std::hypot(across.x, across.y));
}

// How far apart two boxes' centres are, in pixels.
float centresApart(const cv::Rect2f& a, const cv::Rect2f& b) {
    const cv::Point2f apart = (a.tl() + a.br() - b.tl() - b.br()) * 0.5f;
    return std::hypot(apart.x, apart.y);
}

bool sameSize(const cv::Rect2f& a, const cv::Rect2f& b, float maxScaleChange) {
    return std::abs(std::log(a.width / b.width)) <= maxScaleChange;
}

}  // namespace

FaceTracker::FaceTracker(const LandmarkFitter& fitter, DetectionWorker::Mode mode,
                         const std::string& detectorModel)
    : m_fitter(fitter), m_worker(mode, detectorModel) {
    // The worker loaded the same file; should this copy fail, lost faces are looked for with
    // the HOG detector.
    std::string ignored;
    if (m_worker.learned()) (void)m_regionModel.load(detectorModel, 128, ignored);
    m_tracks.reserve(kMaxFaces + 1);
    m_faces.reserve(kMaxFaces + 1);
    m_detections.reserve(16);
    m_candidates.reserve(16);
    m_rejected.reserve(kMaxRejected);
}

void FaceTracker::reset() {
    m_tracks.clear();
    m_faces.clear();
    m_rejected.clear();
    m_framesSinceScan = kDetectionInterval;
    m_scans = 0;
    m_firstCycle = true;
    // A scan of the old stream may be ready or still running; its boxes are dropped.
    std::vector<Detection> stale;
    std::vector<float> staleDetail;
    m_worker.takeResults(stale, staleDetail);
    m_staleScan = !m_worker.idle();
}

void FaceTracker::update(const cv::Mat& grey) {
    if (grey.size() != m_frameSize) {
        reset();
        m_frameSize = grey.size();
    }
    if (sceneChanged(grey)) reset();
    for (size_t i = 0; i < m_tracks.size();) {
        if (refit(m_tracks[i], grey)) {
            ++i;
        } else {
            m_tracks.erase(m_tracks.begin() + long(i));
            // Something changed: look for faces again soon.
            m_framesSinceScan = kDetectionInterval;
        }
    }
    scanForNewFaces(grey);
    dropDuplicates();
    publish();
}

bool FaceTracker::sceneChanged(const cv::Mat& grey) {
    cv::resize(grey, m_thumbnail, kThumbnail, 0, 0, cv::INTER_AREA);
    cv::Scalar mean, spread;
    cv::meanStdDev(m_thumbnail, mean, spread);
    const double scale = 1.0 / std::max(spread[0], kLeastSpread);
    m_thumbnail.convertTo(m_shape, CV_32F, scale, -mean[0] * scale);
    const double area = kThumbnail.area();
    const bool changed =
        !m_previousThumbnail.empty() &&
        (cv::norm(m_thumbnail, m_previousThumbnail, cv::NORM_L1) > kCutDifference * area ||
         cv::norm(m_shape, m_previousShape, cv::NORM_L1) > kCutShapeDifference * area);
    std::swap(m_thumbnail, m_previousThumbnail);
    std::swap(m_shape, m_previousShape);
    return changed;
}

bool FaceTracker::unchanged(const Track& track, const cv::Mat& grey) {
    if (track.look.empty()) return false;
    cv::resize(grey(track.lookBox), m_look, kLook, 0, 0, cv::INTER_AREA);
    return cv::norm(m_look, track.look, cv::NORM_L1) < kStillDifference * kLook.area();
}

void FaceTracker::rememberLook(Track& track, const cv::Mat& grey) {
    track.fitted = track.raw;
    track.slid = cv::Point2f(0.f, 0.f);
    const cv::Rect2f box = LandmarkFitter::boxFromLandmarks(track.raw);
    track.lookBox =
        cv::Rect(cvRound(box.x), cvRound(box.y), cvRound(box.width), cvRound(box.height)) &
        cv::Rect(0, 0, grey.cols, grey.rows);
    if (track.lookBox.width < kLook.width || track.lookBox.height < kLook.height) {
        track.look.release();
        return;
    }
    cv::resize(grey(track.lookBox), track.look, kLook, 0, 0, cv::INTER_AREA);
    m_around = track.lookBox;
    cv::integral(grey(m_around), m_integral, CV_32S);
    cellsAt(track.lookBox, cv::Point(0, 0), track.cells);
}

bool FaceTracker::cellsAt(const cv::Rect& box, cv::Point offset, cv::Mat& cells) const {
    const cv::Rect moved = box + offset;
    if ((moved & m_around) != moved) return false;
    cells.create(kLook, CV_32F);
    const cv::Point origin = moved.tl() - m_around.tl();
    for (int j = 0; j < kLook.height; ++j) {
        const int top = origin.y + moved.height * j / kLook.height;
        const int bottom = origin.y + moved.height * (j + 1) / kLook.height;
        const int* upper = m_integral.ptr<int>(top);
        const int* lower = m_integral.ptr<int>(bottom);
        float* out = cells.ptr<float>(j);
        for (int i = 0; i < kLook.width; ++i) {
            const int left = origin.x + moved.width * i / kLook.width;
            const int right = origin.x + moved.width * (i + 1) / kLook.width;
            const int sum = lower[right] - lower[left] - upper[right] + upper[left];
            out[i] = float(sum) / float((right - left) * (bottom - top));
        }
    }
    return true;
}

bool FaceTracker::slidOnly(Track& track, const cv::Mat& grey, std::optional<cv::Point2f>& seen) {
    if (track.look.empty()) return false;
    const cv::Point start(cvRound(track.slid.x), cvRound(track.slid.y));
    const int reach = std::max(2, cvRound(kSlideReach * float(track.lookBox.width)));
    // Gauss-Newton at the reach's edge looks a pixel beyond it.
    const int margin = reach + 2;
    m_around =
        (track.lookBox + start) + cv::Size(2 * margin, 2 * margin) - cv::Point(margin, margin);
    if ((m_around & cv::Rect(0, 0, grey.cols, grey.rows)) != m_around) return false;
    cv::integral(grey(m_around), m_integral, CV_32S);
    cv::Point2f shift;
    double difference = HUGE_VAL;
    if (!measureShift(track, start, shift, difference) ||
        difference >= kStillDifference * kLook.area()) {
        // A fast move goes past the pixel or two over which the cells change linearly: measure
        // again from where the look is closest.
        const cv::Point closest = closestLook(track, start, reach);
        if (!measureShift(track, closest, shift, difference)) {
            seen = cv::Point2f(closest);
            return false;
        }
        seen = shift;
        if (difference >= kStillDifference * kLook.area()) return false;
    }
    track.motion = shift - track.slid;
    track.slid = shift;
    for (size_t i = 0; i < track.raw.size(); ++i) track.raw[i] = track.fitted[i] + shift;
    track.stabilizer.update(track.raw, kFrameSeconds);
    return true;
}

cv::Point FaceTracker::closestLook(const Track& track, cv::Point start, int reach) {
    // A cell apart, so a face of any size costs about the same.
    const int step = std::max(1, track.lookBox.width / kLook.width);
    const int steps = (reach - 1) / step;
    cv::Point closest = start;
    double least = HUGE_VAL;
    for (int j = -steps; j <= steps; ++j) {
        for (int i = -steps; i <= steps; ++i) {
            const cv::Point at = start + cv::Point(i, j) * step;
            if (!cellsAt(track.lookBox, at, m_moved[0])) continue;
            const double difference = cv::norm(m_moved[0], track.cells, cv::NORM_L1);
            if (difference < least) {
                least = difference;
                closest = at;
            }
        }
    }
    return closest;
}

bool FaceTracker::measureShift(const Track& track, cv::Point from, cv::Point2f& shift,
                               double& difference) {
    // Gauss-Newton on the shift: the cells change about linearly with it over a pixel or two,
    // as each cell averages many pixels.
    shift = cv::Point2f(float(from.x), float(from.y));
    cv::Point at = from;
    for (int step = 0; step < kSlideSteps; ++step) {
        if (!cellsAt(track.lookBox, at, m_moved[0]) ||
            !cellsAt(track.lookBox, at + cv::Point(1, 0), m_moved[1]) ||
            !cellsAt(track.lookBox, at + cv::Point(0, 1), m_moved[2])) {
            return false;
        }
        const float* here = m_moved[0].ptr<float>();
        const float* right = m_moved[1].ptr<float>();
        const float* below = m_moved[2].ptr<float>();
        const float* wanted = track.cells.ptr<float>();
        double xx = 0, xy = 0, yy = 0, xr = 0, yr = 0;
        for (int i = 0; i < kLook.area(); ++i) {
            const double dx = right[i] - here[i], dy = below[i] - here[i];
            const double rest = wanted[i] - here[i];
            xx += dx * dx;
            xy += dx * dy;
            yy += dy * dy;
            xr += dx * rest;
            yr += dy * rest;
        }
        const double determinant = xx * yy - xy * xy;
        // A face without texture to measure a shift by is fitted instead.
        if (!(determinant > 1e-6 * (xx + yy) * (xx + yy))) return false;
        shift = cv::Point2f(float(at.x + (yy * xr - xy * yr) / determinant),
                            float(at.y + (xx * yr - xy * xr) / determinant));
        const cv::Point next(cvFloor(shift.x), cvFloor(shift.y));
        if (next == at) break;
        at = next;
    }
    // The cells at the sub-pixel shift, mixed from the four whole-pixel shifts around it.
    const cv::Point whole(cvFloor(shift.x), cvFloor(shift.y));
    const float fx = shift.x - float(whole.x), fy = shift.y - float(whole.y);
    const cv::Point corners[4] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (size_t k = 0; k < 4; ++k) {
        if (!cellsAt(track.lookBox, whole + corners[k], m_moved[k])) return false;
    }
    const float weights[4] = {(1.f - fx) * (1.f - fy), fx * (1.f - fy), (1.f - fx) * fy, fx * fy};
    difference = 0;
    for (int i = 0; i < kLook.area(); ++i) {
        float mixed = 0.f;
        for (size_t k = 0; k < 4; ++k) mixed += weights[k] * m_moved[k].ptr<float>()[i];
        difference += std::abs(mixed - track.cells.ptr<float>()[i]);
    }
    return true;
}

bool FaceTracker::refit(Track& track, const cv::Mat& grey) {
    if (unchanged(track, grey)) {
        track.motion = cv::Point2f(0.f, 0.f);
        // Back where it was fitted, after sliding away or not.
        track.raw = track.fitted;
        track.slid = cv::Point2f(0.f, 0.f);
        track.stabilizer.update(track.raw, kFrameSeconds);
        return true;
    }
    std::optional<cv::Point2f> seen;
    if (slidOnly(track, grey, seen)) return true;
    // Where its look was seen, or where the face should be now if it keeps moving as in the
    // last frame: a fit from where the face was before a fast move can stay off the face.
    const cv::Rect2f box = seen ? LandmarkFitter::boxFromLandmarks(track.fitted) + *seen
                                : LandmarkFitter::boxFromLandmarks(track.raw) + track.motion;
    if (!mostlyInside(box, grey)) return false;
    const float roll = LandmarkFitter::rollOf(track.raw);
    Landmarks fitted{};
    if (fitFace(box, roll, grey, FacePlausibility::kTracked, kMaxFrameScaleChange, fitted)) {
        follow(track, fitted, grey);
        return true;
    }
    // Lost its hold (a fast move, a turn): look for the face near where it was, turned as it was.
    const Landmarks own = fitted;
    detectAround(box, roll, grey, m_detections);
    for (const Detection& d : m_detections) {
        if (!sameFace(d.box, box, kMaxScaleChange)) continue;
        // A fit from the detection's box can take part of the face for all of it (an eye
        // distance of 40 pixels for 60): the face's own fit counts when only its change of size
        // failed it and a strong detection shows the face at its size.
        if (d.strong && box.width >= kMinFitSide &&
            sameFace(LandmarkFitter::boxFromLandmarks(own), d.box, kMaxFrameScaleChange) &&
            m_plausibility.isPlausible(own, grey, FacePlausibility::kStrongFace)) {
            fitted = own;
        } else if (!fitDetection(d, grey, maxEyeContrast(d), fitted)) {
            if (!ownFitHolds(own, d, grey)) continue;
            fitted = own;
        }
        follow(track, fitted, grey);
        // The head may have turned since any earlier view: this one counts.
        track.turn = d.turn;
        track.turnDetail = d.box.width / (kRegionSide * box.width);
        return true;
    }
    return false;
}

bool FaceTracker::ownFitHolds(const Landmarks& own, const Detection& detection,
                              const cv::Mat& grey) {
    // A head turning or nodding changes its fit's size by a tenth or more from one frame to the
    // next, and a fit from the detection's box can fail on it; at the frame's edge such a change
    // is the fit being squeezed.
    const cv::Rect2f box = LandmarkFitter::boxFromLandmarks(own);
    return box.width >= kMinFitSide && wellInside(box, grey) &&
           sameFace(box, detection.box, kMaxScaleChange) &&
           m_plausibility.isPlausible(own, grey, maxEyeContrast(detection));
}

void FaceTracker::detectAround(const cv::Rect2f& box, float roll, const cv::Mat& grey,
                               std::vector<Detection>& found) {
    const double scale = std::min(1.0, double(kRegionFaceSize / std::max(box.width, 1.f)));
    const ScanRegion region{cv::Point2f(box.x + 0.5f * box.width, box.y + 0.5f * box.height),
                            cv::Size2f(kRegionSide * box.width, kRegionSide * box.height), scale,
                            roll};
    found.clear();
    // The face passed the plausibility test when it was found, or its detection passed the
    // scan's threshold: a weaker detection suffices to tell where it is (a turned or tilted head
    // scores lower).
    if (m_regionModel.loaded()) {
        m_regionModel.detectIn(grey, region, found, kKeepScore);
        return;
    }
    if (!m_regionHog) m_regionHog = std::make_unique<FaceDetector>();
    m_regionHog->detectIn(grey, region, found, kKeepThreshold);
}

void FaceTracker::follow(Track& track, const Landmarks& fitted, const cv::Mat& grey) {
    const cv::Rect2f before = LandmarkFitter::boxFromLandmarks(track.raw);
    const cv::Rect2f after = LandmarkFitter::boxFromLandmarks(fitted);
    track.motion = (after.tl() + after.br() - before.tl() - before.br()) * 0.5f;
    track.raw = fitted;
    track.stabilizer.update(fitted, kFrameSeconds);
    rememberLook(track, grey);
}

bool FaceTracker::fitFace(const cv::Rect2f& box, float roll, const cv::Mat& grey,
                          double maxEyeContrast, float maxScaleChange, Landmarks& fitted) {
    if (box.width < kMinFitSide || !mostlyInside(box, grey)) return false;
    fitted = m_fitter.fit(grey, box, roll);
    // A fit that shrank, grew or slid off the box has lost the face.
    return m_plausibility.isPlausible(fitted, grey, maxEyeContrast) &&
           sameFace(LandmarkFitter::boxFromLandmarks(fitted), box, maxScaleChange);
}

bool FaceTracker::fitNewFace(const Detection& detection, const cv::Mat& grey, Landmarks& fitted) {
    return fitDetection(
        detection, grey,
        detection.strong ? FacePlausibility::kStrongFace : FacePlausibility::kNewFace, fitted);
}

double FaceTracker::maxEyeContrast(const Detection& detection) {
    // Not raised for every followed face: a face covered by a plain patch measures 1.
    return detection.strong ? FacePlausibility::kStrongFace : FacePlausibility::kTracked;
}

bool FaceTracker::fitDetection(const Detection& detection, const cv::Mat& grey,
                               double maxEyeContrast, Landmarks& fitted) {
    if (!fitAtJudgedRoll(detection, grey, maxEyeContrast, fitted)) return false;
    // A weak detection whose landmarks tilt another way than the detector's key points is a
    // pattern each took for a face in its own way (a duck's head through a colour mask); so is
    // one where both put the nose tip high up against the eyes, where a face has it about half
    // an eye distance below them; and so is one on a face so dark that hair looks as much like one.
    return !detection.weak ||
           (sameRoll(detection.roll, LandmarkFitter::rollOf(fitted)) &&
            detection.noseDepth + FacePlausibility::noseDepth(fitted) >= 2.f * kMinNoseDepth &&
            m_plausibility.cheekGrey(fitted, grey) >= kMinCheekLight * lightOf(grey));
}

double FaceTracker::lightOf(const cv::Mat& grey) {
    cv::resize(grey, m_light, kThumbnail, 0, 0, cv::INTER_AREA);
    double lightest = 0;
    cv::minMaxLoc(m_light, nullptr, &lightest);
    return lightest;
}

bool FaceTracker::fitAtJudgedRoll(const Detection& detection, const cv::Mat& grey,
                                  double maxEyeContrast, Landmarks& fitted) {
    const auto fit = [&](float roll, Landmarks& landmarks) {
        return fitFace(detection.box, roll, grey, maxEyeContrast, kMaxScaleChange, landmarks);
    };
    Landmarks upright;
    const bool uprightFits = fit(0.f, upright);
    // A near profile's key points give no roll (see kProfileEyes).
    if (uprightFits && detection.eyeDistance < kProfileEyes * eyeDistanceOf(upright)) {
        fitAtDarkestEyes(detection, grey, maxEyeContrast, upright, fitted);
        return true;
    }
    if (std::abs(detection.roll) < LandmarkFitter::kUprightRoll) {
        fitted = upright;
        return uprightFits;
    }
    // Fitted upright, the eye line of a face tilted by up to about 45 degrees mostly turns the
    // right way: its roll is the judge of the detector's. Beyond that it stays within 30 degrees
    // of upright, and a fit turned by 45 degrees the detector's way judges instead, for a clear
    // detection only: a fit turned toward a wrong roll follows it.
    if (!uprightFits) return fit(detection.roll, fitted);
    const float uprightRoll = LandmarkFitter::rollOf(upright);
    bool confirmed = sameRoll(detection.roll, uprightRoll);
    if (!confirmed && !detection.weak && std::abs(detection.roll) > kSteepRoll) {
        const auto turnedFit = [&](float towards, Landmarks& landmarks) {
            return fit(std::copysign(kTurnedJudge, towards), landmarks);
        };
        Landmarks turned, away;
        if (std::abs(uprightRoll) >= LandmarkFitter::kUprightRoll &&
            std::signbit(uprightRoll) != std::signbit(detection.roll)) {
            // The two tilt opposite ways, and near 45 degrees either can be wrong (a flash-lit
            // face fitted upright turns 30 degrees the wrong way). Turned the wrong way, a fit
            // puts its eyes on the brows or the nose, which are lighter than the eyes.
            confirmed =
                turnedFit(detection.roll, turned) &&
                (!turnedFit(uprightRoll, away) ||
                 m_plausibility.eyeContrast(turned, grey) < m_plausibility.eyeContrast(away, grey));
        } else if (std::abs(uprightRoll) < kSteepRoll) {
            confirmed = turnedFit(detection.roll, turned) &&
                        sameRoll(detection.roll, LandmarkFitter::rollOf(turned));
        }
    }
    const float roll = confirmed ? detection.roll : uprightRoll;
    if (std::abs(roll) >= LandmarkFitter::kUprightRoll && fit(roll, fitted)) {
        if (!detection.weak) settleRoll(detection.box, roll, grey, maxEyeContrast, fitted);
        return true;
    }
    fitted = upright;
    return true;
}

void FaceTracker::fitAtDarkestEyes(const Detection& detection, const cv::Mat& grey,
                                   double maxEyeContrast, const Landmarks& upright,
                                   Landmarks& fitted) {
    // Fitted at a wrong roll, a face gets its eyes on the brows or the nose, which are lighter
    // than the eyes: of the rolls the face may have, the one whose fit has the darkest eyes
    // against its cheeks is taken.
    fitted = upright;
    double darkest = m_plausibility.eyeContrast(upright, grey);
    float from = 0.f;
    for (const float roll :
         {detection.roll, LandmarkFitter::rollOf(upright), kTurnedJudge, -kTurnedJudge}) {
        Landmarks candidate;
        if (!fitFace(detection.box, roll, grey, maxEyeContrast, kMaxScaleChange, candidate)) {
            continue;
        }
        const double contrast = m_plausibility.eyeContrast(candidate, grey);
        if (contrast < darkest) {
            fitted = candidate;
            darkest = contrast;
            from = roll;
        }
    }
    if (!detection.weak) settleRoll(detection.box, from, grey, maxEyeContrast, fitted);
}

void FaceTracker::settleRoll(const cv::Rect2f& box, float from, const cv::Mat& grey,
                             double maxEyeContrast, Landmarks& fitted) {
    // Each fit taken has its eyes darker against its cheeks than the one before: started nearer
    // the face's roll, a fit puts its eyes on the eyes rather than on the brows or the nose.
    double contrast = m_plausibility.eyeContrast(fitted, grey);
    for (int i = 0; i < kSettleFits; ++i) {
        const float to = LandmarkFitter::rollOf(fitted);
        if (rollsApart(to, from) <= kSettled) return;
        Landmarks again;
        if (!fitFace(box, to, grey, maxEyeContrast, kMaxScaleChange, again)) return;
        const double againContrast = m_plausibility.eyeContrast(again, grey);
        if (againContrast >= contrast) return;
        fitted = again;
        contrast = againContrast;
        from = to;
    }
}

bool FaceTracker::sameRoll(float a, float b) { return rollsApart(a, b) <= kSameRoll; }

bool FaceTracker::mostlyInside(const cv::Rect2f& box, const cv::Mat& grey) {
    // Partly outside the frame, the model squeezes the whole face into the part that is left
    // and puts the mouth on a cheek.
    const cv::Rect2f frame(0.f, 0.f, float(grey.cols), float(grey.rows));
    return (box & frame).area() >= kMinInside * box.area();
}

bool FaceTracker::wellInside(const cv::Rect2f& box, const cv::Mat& grey) {
    const float margin = kEdgeMargin * box.width;
    return box.x >= margin && box.y >= margin && box.br().x <= grey.cols - margin &&
           box.br().y <= grey.rows - margin;
}

bool FaceTracker::sameFace(const cv::Rect2f& a, const cv::Rect2f& b, float maxScaleChange) {
    return sameSize(a, b, maxScaleChange) && centresApart(a, b) <= kMaxSlide * b.width;
}

void FaceTracker::scanForNewFaces(const cv::Mat& grey) {
    ++m_framesSinceScan;
    ++m_scanAge;
    submitIfDue(grey);
    ageRejected();
    waitForLateScan();
    m_detections.clear();
    if (!m_worker.takeResults(m_detections, m_details)) return;
    if (m_staleScan) {
        // Scanned before a cut: its faces are gone.
        m_staleScan = false;
    } else {
        addFaces(grey, m_scanAge > 0);
    }
    // A background worker is free again: during a first cycle the next scan starts now.
    submitIfDue(grey);
}

void FaceTracker::submitIfDue(const cv::Mat& grey) {
    // Every face followed was confirmed by its landmarks in this frame (a face that was not is
    // gone): new faces are looked for less often, unless the picture is new. While none is
    // followed, a new picture's scans look at the whole frame each time too: a large face that
    // its first scan found and the next frame's fit lost would wait for the cycle's end.
    using Pace = DetectionWorker::Pace;
    const Pace pace = m_tracks.empty() ? Pace::Searching
                      : m_firstCycle   ? Pace::NewPicture
                                       : Pace::Followed;
    const int interval = m_firstCycle             ? 1
                         : pace == Pace::Followed ? kConfirmedInterval
                                                  : kDetectionInterval;
    if (m_framesSinceScan < interval || !m_worker.idle()) return;
    m_worker.submit(grey, m_scans++, pace);
    m_framesSinceScan = 0;
    m_scanAge = 0;
    if (m_firstCycle && m_scans >= m_worker.scansPerCycle(grey.size())) {
        m_firstCycle = false;
        m_scans = 0;
    }
}

void FaceTracker::waitForLateScan() {
    // A camera's frames never wait: its scans end within a frame or two, and later only on a
    // machine too busy for the camera, where a wait would hold up every frame. The pace is that
    // of the last few frames: a stream's first frame can take a tenth of a second.
    const auto now = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point& before = m_frameTimes[m_frames++ % kMaxScanLag];
    const std::chrono::duration<float> recent = now - before;
    before = now;
    if (m_scanAge >= kMaxScanLag && recent.count() < kMaxScanLag * kFastFrameSeconds) {
        m_worker.waitForResults();
    }
}

void FaceTracker::addFaces(const cv::Mat& grey, bool scannedEarlier) {
    m_candidates.clear();
    for (const Detection& scanned : m_detections) {
        // A strong detection is fitted even where a weaker one of the face was rejected.
        if (covered(scanned.box) || (!scanned.strong && rejectedBefore(scanned.box, grey))) {
            continue;
        }
        const Detection d = scannedEarlier ? whereNow(scanned, grey) : scanned;
        Landmarks fitted;
        // A face cut by the frame's edge gets a squeezed fit: it is taken once it is all in.
        if (fitNewFace(d, grey, fitted) &&
            wellInside(LandmarkFitter::boxFromLandmarks(fitted), grey)) {
            m_candidates.push_back(fitted);
        } else if (m_rejected.size() < kMaxRejected) {
            m_rejected.push_back({d.box, kRejectedFrames, cv::Mat()});
            thumbnail(d.box, grey, m_rejected.back().look);
        }
    }
    // The largest faces first; faces already followed keep their places.
    std::sort(m_candidates.begin(), m_candidates.end(), [](const Landmarks& a, const Landmarks& b) {
        return LandmarkFitter::boxFromLandmarks(a).area() >
               LandmarkFitter::boxFromLandmarks(b).area();
    });
    for (const Landmarks& candidate : m_candidates) {
        if (int(m_tracks.size()) >= kMaxFaces) break;
        // Two boxes of one scan on one face.
        if (covered(LandmarkFitter::boxFromLandmarks(candidate))) continue;
        Track track;
        track.raw = candidate;
        track.stabilizer.reset(candidate);
        rememberLook(track, grey);
        m_tracks.push_back(track);
    }
    for (size_t i = 0; i < m_detections.size(); ++i) {
        updateTurn(m_detections[i], m_details[i]);
        refitAtDetectedRoll(m_detections[i], grey, scannedEarlier);
    }
}

Detection FaceTracker::whereNow(const Detection& scanned, const cv::Mat& grey) {
    // A fit from a box the face has partly left takes a smaller face than there is, and each fit
    // from the box of that one's landmarks shrinks further, until the face is lost: the box is
    // looked for again in this frame, as a lost face is, and the detection of about its size
    // nearest to it is fitted. A face that moved out of reach is fitted where it was scanned.
    // A region scan scores the same face otherwise than the scan's square: a score only faces
    // get counts from either, and a weak detection's tests stay.
    detectAround(scanned.box, scanned.roll, grey, m_found);
    const Detection* nearest = &scanned;
    float nearestDistance = HUGE_VALF;
    for (const Detection& d : m_found) {
        const float distance = centresApart(d.box, scanned.box);
        if (sameSize(d.box, scanned.box, kMaxScaleChange) && distance < nearestDistance) {
            nearest = &d;
            nearestDistance = distance;
        }
    }
    Detection now = *nearest;
    now.score = std::max(scanned.score, nearest->score);
    now.strong = scanned.strong || nearest->strong;
    now.weak = scanned.weak && !now.strong;
    return now;
}

void FaceTracker::refitAtDetectedRoll(const Detection& scanned, const cv::Mat& grey,
                                      bool scannedEarlier) {
    // A weak detection's key points tilt with whatever pattern it took for a face.
    if (scanned.weak) return;
    for (Track& track : m_tracks) {
        if (!sameFace(scanned.box, LandmarkFitter::boxFromLandmarks(track.raw), kMaxScaleChange) ||
            sameRoll(scanned.roll, LandmarkFitter::rollOf(track.raw))) {
            continue;
        }
        // A fit from a box the face has moved from takes a smaller face, whose eyes may well be
        // darker against its cheeks.
        const Detection detection = scannedEarlier ? whereNow(scanned, grey) : scanned;
        // The new fit counts when the judge took the detector's roll and its eyes are darker
        // against its cheeks than the followed fit's: a fit at a wrong roll puts its eyes on the
        // brows or the nose. Each fit taken has darker eyes than the last, so two fits cannot
        // take turns.
        Landmarks fitted;
        if (fitDetection(detection, grey, FacePlausibility::kTracked, fitted) &&
            sameRoll(detection.roll, LandmarkFitter::rollOf(fitted)) &&
            m_plausibility.eyeContrast(fitted, grey) <
                m_plausibility.eyeContrast(track.raw, grey)) {
            follow(track, fitted, grey);
        }
    }
}

bool FaceTracker::covered(const cv::Rect2f& box) const {
    for (const Track& track : m_tracks) {
        if (overlap(box, LandmarkFitter::boxFromLandmarks(track.raw)) > 0.3f) return true;
    }
    return false;
}

void FaceTracker::updateTurn(const Detection& detection, float detail) {
    if (std::isnan(detection.turn)) return;
    for (Track& track : m_tracks) {
        if (sameFace(detection.box, LandmarkFitter::boxFromLandmarks(track.raw), kMaxScaleChange) &&
            detail >= kComparableDetail * track.turnDetail) {
            track.turn = detection.turn;
            track.turnDetail = detail;
        }
    }
}

bool FaceTracker::rejectedBefore(const cv::Rect2f& box, const cv::Mat& grey) {
    for (const Rejected& r : m_rejected) {
        if (overlap(box, r.box) < 0.7f || std::abs(box.width - r.box.width) >= 0.2f * box.width) {
            continue;
        }
        thumbnail(r.box, grey, m_look);
        if (r.look.empty() || m_look.empty() ||
            cv::norm(m_look, r.look, cv::NORM_L1) < kStillDifference * kLook.area()) {
            return true;
        }
    }
    return false;
}

void FaceTracker::thumbnail(const cv::Rect2f& box, const cv::Mat& grey, cv::Mat& look) {
    const cv::Rect inside = cv::Rect(box) & cv::Rect(0, 0, grey.cols, grey.rows);
    if (inside.width < kLook.width || inside.height < kLook.height) {
        look.release();
        return;
    }
    cv::resize(grey(inside), look, kLook, 0, 0, cv::INTER_AREA);
}

void FaceTracker::ageRejected() {
    for (Rejected& r : m_rejected) --r.framesLeft;
    m_rejected.erase(std::remove_if(m_rejected.begin(), m_rejected.end(),
                                    [](const Rejected& r) { return r.framesLeft <= 0; }),
                     m_rejected.end());
}

void FaceTracker::dropDuplicates() {
    // Two tracks that converged on one face: the older one stays.
    for (size_t i = 0; i < m_tracks.size(); ++i) {
        const cv::Rect2f a = LandmarkFitter::boxFromLandmarks(m_tracks[i].raw);
        for (size_t j = i + 1; j < m_tracks.size();) {
            if (overlap(a, LandmarkFitter::boxFromLandmarks(m_tracks[j].raw)) > 0.5f) {
                m_tracks.erase(m_tracks.begin() + long(j));
            } else {
                ++j;
            }
        }
    }
}

void FaceTracker::publish() {
    const float step = 1.f / float(kFadeFrames);
    m_faces.clear();
    for (Track& track : m_tracks) {
        track.presence = std::min(1.f, track.presence + step);
        Face face;
        face.landmarks = track.stabilizer.current();
        face.presence = track.presence;
        face.roll = LandmarkFitter::rollOf(face.landmarks);
        face.eyeDistance = eyeDistanceOf(face.landmarks);
        face.turn = track.turn;
        m_faces.push_back(face);
    }
}

}  // namespace facelume
