#include "face_warp.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "face_shape.h"
#include "work_area.h"

namespace facelume {
namespace {

// Scale of the eye's centre at value 1 (pixels come from this much closer to the centre).
constexpr float kEyeScale = 0.25f;
// The eye scaling acts inside an ellipse around the eye, its half-axes in eye widths: along the
// eye line and across it. It stays clear of the brows and of where glasses' rims sit, so neither
// bends.
constexpr float kEyeReachAlong = 0.9f;
constexpr float kEyeReachAcross = 0.6f;
// Share of the ellipse (in its own radius) scaled evenly; beyond it the scaling fades out.
constexpr float kEyeEvenScale = 0.5f;
// Share of the distance to the centre line that a jaw point moves at value 1.
constexpr float kThin = 0.15f;
// Radius of a jaw handle, in eye distances.
constexpr float kThinRadius = 0.7f;
// Width of the band outside the face's outline over which the jaw handles fade out, in eye
// distances: collars, lapels and picture frames beyond it do not bend.
constexpr float kThinFade = 0.25f;
// The field is computed on a grid this many pixels apart.
constexpr int kGridStep = 4;
// Jaw landmarks that move and how much: most at the cheeks and the jaw's corners, little at the
// chin (which has nowhere to go) and the temples.
constexpr struct {
    int index;
    float weight;
} kJaw[] = {{2, 0.3f}, {3, 0.8f},  {4, 1.0f},  {5, 1.0f},  {6, 0.8f},  {7, 0.4f},
            {9, 0.4f}, {10, 0.8f}, {11, 1.0f}, {12, 1.0f}, {13, 0.8f}, {14, 0.3f}};

float falloff(float distanceSquared, float radius) {
    const float u = 1.f - distanceSquared / (radius * radius);
    return u > 0.f ? u * u : 0.f;
}

// 1 inside the evenly scaled core of an eye's ellipse, easing to 0 at its edge; the source
// radius keeps growing with the radius on the way, so the picture does not fold.
float eyeFalloff(float ellipseRadius) {
    if (ellipseRadius >= 1.f) return 0.f;
    const float u = std::max(0.f, (1.f - ellipseRadius) / (1.f - kEyeEvenScale));
    return u >= 1.f ? 1.f : u * u * (3.f - 2.f * u);
}

}  // namespace

void FaceWarp::setEyeScale(float value) { m_eyeScale = value; }

void FaceWarp::setFaceThin(float value) { m_faceThin = value; }

void FaceWarp::collectHandles(const std::vector<Face>& faces) {
    m_handles.clear();
    int outlines = 0;
    for (const Face& face : faces) {
        if (face.presence <= 0.f || face.eyeDistance < 4.f) continue;
        const int outline = outlines;
        if (m_eyeScale != 0.f) {
            for (int first : {36, 42}) {
                Handle eye;
                eye.centre = FaceShape::mean(face, first, first + 5);
                const cv::Point2f width =
                    face.landmarks[size_t(first + 3)] - face.landmarks[size_t(first)];
                const float eyeWidth = float(std::hypot(width.x, width.y));
                eye.radius = kEyeReachAlong * eyeWidth;
                eye.squash = kEyeReachAlong / kEyeReachAcross;
                eye.along = width * (1.f / std::max(eyeWidth, 1e-3f));
                eye.scale = kEyeScale * m_eyeScale * face.presence;
                if (eye.radius > 2.f) m_handles.push_back(eye);
            }
        }
        if (m_faceThin != 0.f) {
            for (const auto& jaw : kJaw) {
                Handle handle;
                handle.centre = face.landmarks[size_t(jaw.index)];
                handle.radius = kThinRadius * face.eyeDistance;
                const cv::Point2f inward =
                    FaceShape::onCentreLine(face, handle.centre) - handle.centre;
                handle.shift = inward * (kThin * jaw.weight * m_faceThin * face.presence);
                handle.outline = outline;
                m_handles.push_back(handle);
            }
            // Outlines are kept and refilled, so a steady face allocates nothing.
            if (m_outlines.size() <= size_t(outline)) m_outlines.emplace_back();
            Outline& o = m_outlines[size_t(outline)];
            FaceShape::outline(face, 1.f, o.polygon);
            o.fade = kThinFade * face.eyeDistance;
            ++outlines;
        }
    }
}

cv::Point2f FaceWarp::displacement(cv::Point2f p) const {
    // Shifts are averaged where their discs overlap, so that neighbouring jaw handles move the
    // contour together instead of adding up; eye scalings are added.
    cv::Point2f shift(0.f, 0.f), scaling(0.f, 0.f);
    float shiftWeight = 0.f;
    // The jaw handles of one face share its outline, so its fade is found once per point.
    int outline = -1;
    float fade = 0.f;
    for (const Handle& h : m_handles) {
        const cv::Point2f d = p - h.centre;
        if (h.scale != 0.f) {
            const float along = d.dot(h.along);
            const float across = (d.x * h.along.y - d.y * h.along.x) * h.squash;
            scaling -= d * (h.scale * eyeFalloff(std::hypot(along, across) / h.radius));
            continue;
        }
        const float w = falloff(d.dot(d), h.radius);
        if (w <= 0.f) continue;
        if (h.outline != outline) {
            outline = h.outline;
            fade = insideOutline(m_outlines[size_t(outline)], p);
        }
        shift -= h.shift * (w * fade);
        shiftWeight += w;
    }
    if (shiftWeight > 1.f) shift *= 1.f / shiftWeight;
    return shift + scaling;
}

float FaceWarp::insideOutline(const Outline& outline, cv::Point2f p) {
    const double inside = cv::pointPolygonTest(outline.polygon, p, true);
    if (inside >= 0.0) return 1.f;
    const float u = std::max(0.f, 1.f + float(inside) / outline.fade);
    return u * u * (3.f - 2.f * u);
}

void FaceWarp::findRegions(const cv::Mat& frame) {
    m_regions.clear();
    for (const Handle& h : m_handles) {
        const float reach = h.radius + 2.f;
        const cv::Rect disc(cv::Point(cvFloor(h.centre.x - reach), cvFloor(h.centre.y - reach)),
                            cv::Point(cvCeil(h.centre.x + reach), cvCeil(h.centre.y + reach)));
        const cv::Rect inside = disc & cv::Rect(0, 0, frame.cols, frame.rows);
        if (!inside.empty()) m_regions.push_back(inside);
    }
    // Merged until no two overlap (a merged bound may reach one it missed before): then a
    // pixel of one region lies in no disc of another, and each region is warped on its own.
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < m_regions.size(); ++i) {
            for (size_t j = i + 1; j < m_regions.size(); ++j) {
                if ((m_regions[i] & m_regions[j]).empty()) continue;
                m_regions[i] |= m_regions[j];
                m_regions.erase(m_regions.begin() + std::ptrdiff_t(j--));
                merged = true;
            }
        }
    }
}

void FaceWarp::buildMaps(const cv::Rect& region) {
    const cv::Size grid((region.width + kGridStep - 1) / kGridStep + 1,
                        (region.height + kGridStep - 1) / kGridStep + 1);
    m_smallX = workArea(m_buffers[0], grid, CV_32FC1);
    m_smallY = workArea(m_buffers[1], grid, CV_32FC1);
    for (int gy = 0; gy < grid.height; ++gy) {
        float* dx = m_smallX.ptr<float>(gy);
        float* dy = m_smallY.ptr<float>(gy);
        for (int gx = 0; gx < grid.width; ++gx) {
            const cv::Point2f d = displacement(
                cv::Point2f(float(region.x + gx * kGridStep), float(region.y + gy * kGridStep)));
            dx[gx] = d.x;
            dy[gx] = d.y;
        }
    }
    // Every pixel: the grid's bilinear interpolation (grid point g sits at pixel g * step) plus
    // its own position, in the region's coordinates.
    m_mapX = workArea(m_buffers[2], region.size(), CV_32FC1);
    m_mapY = workArea(m_buffers[3], region.size(), CV_32FC1);
    interpolateMaps();
}

void FaceWarp::interpolateMaps() {
    constexpr float inverseStep = 1.f / float(kGridStep);
    for (int y = 0; y < m_mapX.rows; ++y) {
        const int gy = y / kGridStep;
        const float fy = float(y - gy * kGridStep) * inverseStep;
        const float* x0 = m_smallX.ptr<float>(gy);
        const float* x1 = m_smallX.ptr<float>(gy + 1);
        const float* y0 = m_smallY.ptr<float>(gy);
        const float* y1 = m_smallY.ptr<float>(gy + 1);
        float* mx = m_mapX.ptr<float>(y);
        float* my = m_mapY.ptr<float>(y);
        for (int x = 0; x < m_mapX.cols; ++x) {
            const int gx = x / kGridStep;
            const float fx = float(x - gx * kGridStep) * inverseStep;
            const float topX = x0[gx] + fx * (x0[gx + 1] - x0[gx]);
            const float bottomX = x1[gx] + fx * (x1[gx + 1] - x1[gx]);
            const float topY = y0[gx] + fx * (y0[gx + 1] - y0[gx]);
            const float bottomY = y1[gx] + fx * (y1[gx + 1] - y1[gx]);
            mx[x] = float(x) + topX + fy * (bottomX - topX);
            my[x] = float(y) + topY + fy * (bottomY - topY);
        }
    }
}

void FaceWarp::apply(cv::Mat& frame, const std::vector<Face>& faces) {
    collectHandles(faces);
    findRegions(frame);
    // The bounds of faces far apart would take in most of the frame between them.
    for (const cv::Rect& region : m_regions) warpRegion(frame, region);
}

void FaceWarp::warpRegion(cv::Mat& frame, const cv::Rect& region) {
    if (region.width < 2 || region.height < 2) return;
    buildMaps(region);
    // Displacements vanish at the edge of every disc and the discs lie inside the region, so
    // the sources stay within it; the copy is the remap's unmoved source.
    m_source = workArea(m_buffers[4], region.size(), CV_8UC3);
    frame(region).copyTo(m_source);
    cv::Mat target = frame(region);
    cv::remap(m_source, target, m_mapX, m_mapY, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
}

void FaceWarp::moveLandmarks(const std::vector<Face>& faces, std::vector<Face>& moved) const {
    moved = faces;
    if (m_handles.empty()) return;
    // A landmark at p is drawn where q + displacement(q) = p; a few fixed-point steps find q.
    for (Face& face : moved) {
        for (cv::Point2f& p : face.landmarks) {
            const cv::Point2f target = p;
            cv::Point2f q = p;
            for (int i = 0; i < 4; ++i) q = target - displacement(q);
            p = q;
        }
    }
}

}  // namespace facelume
