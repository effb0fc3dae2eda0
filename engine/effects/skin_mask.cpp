#include "skin_mask.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "face_shape.h"
#include "work_area.h"

namespace facelume {
namespace {

// The generic skin colour: mean and variance of (Cr, Cb) over many skin tones.
const cv::Vec2f kPriorMean(150.f, 112.f);
constexpr float kPriorVariance = 110.f;
// Skin darker than this luma is treated as shadow, not skin.
constexpr int kMinLuma = 25;
// The working images are views into larger buffers (see workArea): filters must not read the
// stale pixels beyond a view's edge.
constexpr int kBorder = cv::BORDER_REFLECT_101 | cv::BORDER_ISOLATED;

void fill(cv::Mat& image, const std::vector<cv::Point>& polygon, int value) {
    const cv::Point* points = polygon.data();
    const int count = int(polygon.size());
    cv::fillPoly(image, &points, &count, 1, cv::Scalar(value), cv::LINE_AA);
}

void stroke(cv::Mat& image, const std::vector<cv::Point>& polygon, int value, int thickness) {
    const cv::Point* points = polygon.data();
    const int count = int(polygon.size());
    cv::polylines(image, &points, &count, 1, false, cv::Scalar(value), thickness, cv::LINE_AA);
}

cv::Rect toPixels(const cv::Rect2f& r) {
    return cv::Rect(cv::Point(cvFloor(r.x), cvFloor(r.y)),
                    cv::Point(cvCeil(r.x + r.width), cvCeil(r.y + r.height)));
}

}  // namespace

void SkinMask::update(const cv::Mat& frame, const std::vector<Face>& faces) {
    m_weights.create(frame.size(), CV_8UC1);
    m_region = chooseRegion(frame, faces);
    if (m_region.empty()) return;
    // Half resolution is plenty for a mask that is feathered anyway; tiny regions stay whole.
    m_scale = std::min(m_region.width, m_region.height) >= 64 ? 0.5f : 1.f;
    const cv::Size small = scaledSize(m_region.size(), m_scale);
    m_small = workArea(m_buffers[0], small, CV_8UC3);
    m_ycrcb = workArea(m_buffers[1], small, CV_8UC3);
    m_faceWeight = workArea(m_buffers[2], small, CV_8UC1);
    m_likelihood = workArea(m_buffers[3], small, CV_8UC1);
    m_combined = workArea(m_buffers[4], small, CV_8UC1);
    m_blurred = workArea(m_buffers[5], small, CV_8UC1);
    cv::resize(frame(m_region), m_small, small, 0, 0, cv::INTER_AREA);
    cv::cvtColor(m_small, m_ycrcb, cv::COLOR_BGR2YCrCb);
    learnColour(faces);
    buildColourTable();

    for (int y = 0; y < small.height; ++y) {
        const cv::Vec3b* c = m_ycrcb.ptr<cv::Vec3b>(y);
        uchar* out = m_likelihood.ptr<uchar>(y);
        for (int x = 0; x < small.width; ++x) {
            out[x] = c[x][0] < kMinLuma ? 0 : m_colourTable[(c[x][1] >> 2) * 64 + (c[x][2] >> 2)];
        }
    }
    drawFaces(faces);
    cv::multiply(m_faceWeight, m_likelihood, m_combined, 1.0 / 255.0);
    // Removes single-pixel speckle of the colour test and softens its edges.
    cv::GaussianBlur(m_combined, m_blurred, cv::Size(5, 5), 0, 0, kBorder);
    cv::resize(m_blurred, m_weights(m_region), m_region.size(), 0, 0, cv::INTER_LINEAR);
}

cv::Rect SkinMask::chooseRegion(const cv::Mat& frame, const std::vector<Face>& faces) {
    float eyeDistance = 0.f;
    cv::Rect around;
    for (const Face& face : faces) {
        if (face.presence <= 0.f) continue;
        eyeDistance = std::max(eyeDistance, face.eyeDistance);
        const cv::Rect2f b = FaceShape::bounds(face);
        // Room for the feathering of the outline.
        const float margin = 0.15f * std::max(b.width, b.height);
        const cv::Rect grown = toPixels(
            cv::Rect2f(b.x - margin, b.y - margin, b.width + 2 * margin, b.height + 2 * margin));
        around = around.empty() ? grown : (around | grown);
    }
    m_scaleHint = std::max(1.f, eyeDistance);
    return around & cv::Rect(0, 0, frame.cols, frame.rows);
}

void SkinMask::learnColour(const std::vector<Face>& faces) {
    // Average (Cr, Cb) over the cheeks of the faces (below the eyes, beside the nose).
    cv::Vec2d sum(0, 0);
    cv::Matx22d squares = cv::Matx22d::zeros();
    double count = 0;
    for (const Face& face : faces) {
        if (face.presence <= 0.f) continue;
        for (int side = 0; side < 2; ++side) {
            const cv::Point2f eye =
                side == 0 ? FaceShape::rightEyeCentre(face) : FaceShape::leftEyeCentre(face);
            const cv::Point2f cheek = eye + FaceShape::downAxis(face) * (0.55f * face.eyeDistance);
            const float half = 0.15f * face.eyeDistance;
            const cv::Rect2f patch((cheek.x - half - m_region.x) * m_scale,
                                   (cheek.y - half - m_region.y) * m_scale, 2 * half * m_scale,
                                   2 * half * m_scale);
            const cv::Rect r = toPixels(patch) & cv::Rect(0, 0, m_ycrcb.cols, m_ycrcb.rows);
            for (int y = r.y; y < r.y + r.height; ++y) {
                const cv::Vec3b* c = m_ycrcb.ptr<cv::Vec3b>(y);
                for (int x = r.x; x < r.x + r.width; ++x) {
                    const cv::Vec2d v(c[x][1], c[x][2]);
                    sum += v;
                    squares += v * v.t();
                    ++count;
                }
            }
        }
    }
    // Blend the learnt model with the generic one: a few pixels should not decide alone.
    const double learnt = count / (count + 20.0);
    cv::Vec2d mean = count > 0 ? sum / count : cv::Vec2d(kPriorMean[0], kPriorMean[1]);
    cv::Matx22d covariance =
        count > 0 ? squares * (1.0 / count) - mean * mean.t() : cv::Matx22d::zeros();
    const cv::Vec2d prior(kPriorMean[0], kPriorMean[1]);
    mean = learnt * mean + (1.0 - learnt) * prior;
    // Never narrower than the camera noise, never wider than the generic model.
    covariance =
        learnt * covariance + (1.0 - learnt) * cv::Matx22d(kPriorVariance, 0, 0, kPriorVariance);
    covariance(0, 0) = std::clamp(covariance(0, 0), 25.0, 2.0 * kPriorVariance);
    covariance(1, 1) = std::clamp(covariance(1, 1), 25.0, 2.0 * kPriorVariance);
    m_mean = cv::Vec2f(float(mean[0]), float(mean[1]));
    m_inverseCovariance = cv::Matx22f(covariance.inv());
}

void SkinMask::buildColourTable() {
    for (int cr = 0; cr < 64; ++cr) {
        for (int cb = 0; cb < 64; ++cb) {
            const cv::Vec2f d(cr * 4 + 2 - m_mean[0], cb * 4 + 2 - m_mean[1]);
            const float distance = d.dot(m_inverseCovariance * d);
            // Full weight within about two standard deviations, then a smooth fall.
            const float w = distance < 4.f ? 1.f : std::exp(-0.5f * (distance - 4.f));
            m_colourTable[size_t(cr * 64 + cb)] = uchar(cvRound(255.f * w));
        }
    }
}

void SkinMask::drawFaces(const std::vector<Face>& faces) {
    m_faceWeight.setTo(cv::Scalar(0));
    const cv::Point2f offset(float(m_region.x), float(m_region.y));
    for (const Face& face : faces) {
        if (face.presence <= 0.f) continue;
        Face local = face;
        for (cv::Point2f& p : local.landmarks) p -= offset;
        // The outline, then the parts that are not skin cut out of it, a little larger than
        // their landmarks so that feathering does not reach them.
        FaceShape::outline(local, m_scale, m_polygon);
        fill(m_faceWeight, m_polygon, cvRound(255.f * face.presence));
        const int thickness = std::max(1, cvRound(0.22f * face.eyeDistance * m_scale));
        for (auto [first, last, grow] :
             {std::tuple{36, 41, 1.8f}, std::tuple{42, 47, 1.8f}, std::tuple{48, 59, 1.15f}}) {
            FaceShape::part(local, first, last, grow, m_scale, m_polygon);
            fill(m_faceWeight, m_polygon, 0);
        }
        for (auto [first, last] : {std::pair{17, 21}, std::pair{22, 26}}) {
            FaceShape::part(local, first, last, 1.1f, m_scale, m_polygon);
            stroke(m_faceWeight, m_polygon, 0, thickness);
        }
    }
    // Feather: about a tenth of the eye distance, never wider than the region.
    const float sigma = std::clamp(0.1f * m_scaleHint * m_scale, 1.f,
                                   0.25f * float(std::min(m_faceWeight.cols, m_faceWeight.rows)));
    cv::GaussianBlur(m_faceWeight, m_faceWeight, cv::Size(), sigma, sigma, kBorder);
}

}  // namespace facelume
