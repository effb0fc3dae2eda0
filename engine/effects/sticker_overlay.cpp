#include "sticker_overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "face_geometry.h"
#include "resource_directory.h"

namespace facelume {

namespace {

// On a near profile: the nose bridge beyond the visible eye's inner corner, in eye distances,
// and how much narrower than the nearer eye the far eye shows beyond it.
constexpr float kBridgeGap = 0.25f;
constexpr float kFarEyeWidth = 0.25f;
constexpr int kRightEye = 36, kLeftEye = 42, kBridge = 27;

// The landmark in the other eye at the mirrored place: outer corner for outer corner.
int mirrored(int eyePoint) { return (eyePoint % 6 < 4 ? 81 : 87) - eyePoint; }

}  // namespace

StickerOverlay::StickerOverlay(std::string resourceFolder) : m_folder(std::move(resourceFolder)) {}

void StickerOverlay::configure(const char* name) {
    if (name == nullptr || *name == '\0') {
        m_name.clear();
        return;
    }
    const std::string wanted(name);
    if (wanted == m_name) return;
    m_name.clear();
    const ResourceDirectory stickers(m_folder + "/stickers", ".png");
    const std::string picture = stickers.find(wanted);
    if (picture.empty()) {
        std::fprintf(stderr, "facelume: unknown sticker \"%s\", available in %s: %s\n",
                     wanted.c_str(), stickers.folder().c_str(), stickers.listing().c_str());
        return;
    }
    const std::string metadata = picture.substr(0, picture.size() - 4) + ".yml";
    const LoadResult loaded = m_sticker.load(picture, metadata);
    if (!loaded.ok()) {
        std::fprintf(stderr, "facelume: sticker \"%s\" not loaded: %s\n", wanted.c_str(),
                     loaded.error.c_str());
        return;
    }
    m_name = wanted;
}

bool StickerOverlay::active() const { return !m_name.empty() && m_sticker.opacity() > 0.f; }

void StickerOverlay::apply(cv::Mat& frame, const std::vector<Face>& faces) {
    if (!active() || frame.type() != CV_8UC3) return;
    try {
        for (const Face& face : faces) {
            const FaceGeometry geometry(face);
            if (geometry.usable()) drawOn(frame, geometry);
        }
    } catch (const std::exception& error) {
        if (!m_failureReported)
            std::fprintf(stderr, "facelume: sticker skipped: %s\n", error.what());
        m_failureReported = true;
    }
}

StickerOverlay::Points StickerOverlay::pointsOf(const FaceGeometry& face) {
    Points points;
    for (int i = 0; i < 68; ++i) points[size_t(i)] = face.point(i);
    const int side = face.profileSide();
    if (side == 0) return points;
    // The fitted eye on the nose's side lies on the visible eye, which is the nearer one.
    const int visible = side > 0 ? kLeftEye : kRightEye;
    const int nearer = side > 0 ? kRightEye : kLeftEye;
    for (int k = 0; k < 6; ++k) points[size_t(nearer + k)] = face.point(visible + k);
    const int innerCorner = side > 0 ? visible + 3 : visible;
    const cv::Point2f bridge =
        face.point(innerCorner) + face.across() * (side * kBridgeGap * face.scale());
    points[kBridge] = bridge;
    for (int k = 0; k < 6; ++k) {
        const cv::Point2f d = points[size_t(nearer + k)] - bridge;
        points[size_t(mirrored(nearer + k))] =
            bridge - face.across() * (d.dot(face.across()) * kFarEyeWidth) +
            face.down() * d.dot(face.down());
    }
    return points;
}

StickerOverlay::Placement StickerOverlay::place(const FaceGeometry& face, const Points& points,
                                                const cv::Mat& level) const {
    Placement where;
    cv::Point2f anchor(0.f, 0.f);
    for (int index : m_sticker.anchor()) anchor += points[size_t(index)];
    anchor /= static_cast<float>(m_sticker.anchor().size());
    where.across = face.across();
    where.down = face.down();
    where.origin =
        anchor +
        (where.across * m_sticker.offset().x + where.down * m_sticker.offset().y) * face.scale();
    where.pivot = cv::Point2f(m_sticker.pivot().x * level.cols, m_sticker.pivot().y * level.rows);
    const float scale = m_sticker.width() * face.scale() / level.cols;
    where.leftScale = where.rightScale = where.downScale = scale;
    if (m_sticker.span().empty()) return where;
    // Along the eye line: the picture's halves either side of the pivot stretch from the middle
    // span landmark to the first and to the last, so a turned face's nearer half is drawn wider;
    // down the face, the nearer half's scale.
    const auto along = [&](int i) {
        return (points[size_t(m_sticker.span()[size_t(i)])] - where.origin).dot(where.across);
    };
    const float half = level.cols / (2.f * m_sticker.width());
    where.bridge = along(1);
    where.leftScale = (where.bridge - along(0)) / half;
    where.rightScale = (along(2) - where.bridge) / half;
    where.downScale = std::max(where.leftScale, where.rightScale);
    return where;
}

cv::Point2f StickerOverlay::Placement::toFrame(cv::Point2f picture) const {
    const float x = picture.x - pivot.x;
    return origin + across * (bridge + x * (x < 0.f ? leftScale : rightScale)) +
           down * ((picture.y - pivot.y) * downScale);
}

cv::Point2f StickerOverlay::Placement::toPicture(cv::Point2f frame) const {
    const cv::Point2f d = frame - origin;
    const float x = d.dot(across) - bridge;
    return pivot + cv::Point2f(x / (x < 0.f ? leftScale : rightScale), d.dot(down) / downScale);
}

void StickerOverlay::drawOn(cv::Mat& frame, const FaceGeometry& face) {
    // The level is chosen by the largest scale the full-size picture would be drawn at.
    const Points points = pointsOf(face);
    const Placement full = place(face, points, m_sticker.levelFor(1.f));
    const cv::Mat& level =
        m_sticker.levelFor(std::max({full.leftScale, full.rightScale, full.downScale}));
    const Placement where = place(face, points, level);
    if (!(where.leftScale > 0.f && where.rightScale > 0.f)) return;

    float left = 1e9f, top = 1e9f, right = -1e9f, bottom = -1e9f;
    for (const cv::Point2f corner :
         {cv::Point2f(0, 0), cv::Point2f(level.cols, 0), cv::Point2f(0, level.rows),
          cv::Point2f(level.cols, level.rows)}) {
        const cv::Point2f p = where.toFrame(corner);
        left = std::min(left, p.x), right = std::max(right, p.x);
        top = std::min(top, p.y), bottom = std::max(bottom, p.y);
    }
    const cv::Rect area = cv::Rect(cv::Point(static_cast<int>(std::floor(left)) - 1,
                                             static_cast<int>(std::floor(top)) - 1),
                                   cv::Point(static_cast<int>(std::ceil(right)) + 2,
                                             static_cast<int>(std::ceil(bottom)) + 2)) &
                          cv::Rect(cv::Point(0, 0), frame.size());
    if (area.empty()) return;

    if (m_warped.size() != frame.size()) {
        m_warped.create(frame.size(), CV_8UC4);
        m_map.create(frame.size(), CV_32FC2);
    }
    cv::Mat warped = m_warped(area), map = m_map(area);
    for (int y = 0; y < area.height; ++y) {
        cv::Point2f* row = map.ptr<cv::Point2f>(y);
        for (int x = 0; x < area.width; ++x)
            row[x] = where.toPicture(cv::Point2f(float(area.x + x), float(area.y + y)));
    }
    cv::remap(level, warped, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
              cv::Scalar::all(0));

    // Premultiplied "over": out = picture * k + frame * (1 - alpha * k), k = opacity * presence.
    const int k = static_cast<int>(
        std::lround(std::clamp(m_sticker.opacity() * face.presence(), 0.f, 1.f) * 256.f));
    if (k == 0) return;
    for (int y = 0; y < area.height; ++y) {
        const cv::Vec4b* s = warped.ptr<cv::Vec4b>(y);
        uchar* p = frame.ptr<uchar>(area.y + y) + 3 * area.x;
        for (int x = 0; x < area.width; ++x, p += 3) {
            const int alpha = s[x][3];
            if (alpha == 0) continue;
            const int keep = 255 * 256 - alpha * k;
            for (int c = 0; c < 3; ++c) {
                p[c] =
                    static_cast<uchar>((p[c] * keep + s[x][c] * k * 255 + 255 * 128) / (255 * 256));
            }
        }
    }
}

}  // namespace facelume
