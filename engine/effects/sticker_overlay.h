#pragma once

// The sticker control: the picture "<resources>/stickers/<name>.png" drawn on every face,
// pinned and scaled by its metadata "<name>.yml" (see Sticker), turned with the face's roll,
// alpha-blended with its opacity times the face's presence. On a near profile
// (FaceGeometry::profileSide) the eyes and the nose bridge are placed as the head shows them,
// not where the landmarks lay them: the nearer eye on the visible one, the bridge just beyond
// its inner corner, the far eye foreshortened beyond the bridge. configure() loads both files
// (null or empty name: off; unknown name or broken files: off, with one line on standard
// error). apply() reuses one frame-sized work image. One thread at a time; never throws.

#include <array>
#include <string>
#include <vector>

#include "effect.h"
#include "sticker.h"

namespace facelume {

class FaceGeometry;

class StickerOverlay final : public Effect {
public:
    explicit StickerOverlay(std::string resourceFolder);

    void configure(const char* name);
    bool active() const override;
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

private:
    // Where a picture's pixels land on a face: the pivot at origin + across * bridge, the
    // halves left and right of it scaled apart along the face's across axis.
    struct Placement {
        cv::Point2f origin, across, down, pivot;
        float bridge = 0.f;
        float leftScale = 0.f, rightScale = 0.f, downScale = 0.f;
        cv::Point2f toFrame(cv::Point2f picture) const;
        cv::Point2f toPicture(cv::Point2f frame) const;
    };

    using Points = std::array<cv::Point2f, 68>;

    void drawOn(cv::Mat& frame, const FaceGeometry& face);
    static Points pointsOf(const FaceGeometry& face);
    Placement place(const FaceGeometry& face, const Points& points, const cv::Mat& level) const;

    std::string m_folder;
    std::string m_name;  // of the loaded sticker; empty when off
    Sticker m_sticker;
    cv::Mat m_warped;  // frame-sized BGRA work image; each face uses a part of it
    cv::Mat m_map;     // the same for where each pixel comes from in the picture
    bool m_failureReported = false;
};

}  // namespace facelume
