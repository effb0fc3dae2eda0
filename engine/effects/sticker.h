#pragma once

// One sticker as a face effect uses it: an RGBA picture (kept premultiplied by its alpha, in
// a small pyramid of halved copies so that a small face is drawn from a fitting size) and its
// placement, read from a metadata file beside the picture (YAML, see TableFile):
//   anchor:  [landmark numbers]  the picture is pinned to their mean
//   width:   the picture's width on the face, in eye distances
//   pivot:   [x, y] the pinned point of the picture, as fractions of its width and height
//   offset:  [x, y] shift of the pinned point from the anchor, in eye distances, along the
//            face (x toward the person's left, y down the face); optional, default [0, 0]
//   opacity: 0..1, optional, default 1
//   span:    [first, middle, last] landmarks, optional: the picture's width is then counted in
//            the distance from the first to the last along the eye line, its pivot sits on the
//            middle one, and each half of the picture stretches to its own end (on a turned
//            face the nearer half is drawn wider)
// A plain value object, loaded at configure time.

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "load_result.h"

namespace facelume {

class Sticker {
public:
    // Paths in UTF-8. On failure the sticker is left empty.
    LoadResult load(const std::string& picturePath, const std::string& metadataPath);

    bool empty() const { return m_levels.empty(); }
    cv::Size size() const { return m_levels.empty() ? cv::Size() : m_levels[0].size(); }
    const std::vector<int>& anchor() const { return m_anchor; }
    float width() const { return m_width; }
    cv::Point2f pivot() const { return m_pivot; }
    cv::Point2f offset() const { return m_offset; }
    float opacity() const { return m_opacity; }
    // Empty, or the three landmarks of `span`.
    const std::vector<int>& span() const { return m_span; }
    // The premultiplied BGRA copy to draw from when the full picture is scaled by `scale`:
    // the smallest one that is not enlarged by more than needed.
    const cv::Mat& levelFor(float scale) const;

private:
    LoadResult loadPicture(const std::string& path);
    LoadResult loadMetadata(const std::string& path);

    std::vector<cv::Mat> m_levels;
    std::vector<int> m_anchor;
    std::vector<int> m_span;
    float m_width = 1.f;
    cv::Point2f m_pivot{0.5f, 0.5f};
    cv::Point2f m_offset{0.f, 0.f};
    float m_opacity = 1.f;
};

}  // namespace facelume
