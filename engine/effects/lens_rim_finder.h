#pragma once

// Finds the lower rim of a spectacle lens below an eye: a thin band, darker than the skin above
// and below it, running across the cheek under the eye, straight or curving with the lens. Blush
// stops there; painted into the lens it would tint the glasses. Light-independent: the band is
// measured against its own surroundings. One thread at a time; never throws.

#include <array>
#include <optional>

#include <opencv2/core.hpp>

namespace facelume {

class FaceGeometry;

class LensRimFinder {
public:
    // How far below each eye (a point on the lower lid, frame pixels) along the face's down axis
    // the rim's lower edge lies, or nothing when no rim is there. Where one lens's rim is found,
    // the other's need run across only part of its strip, at about the same depth: a frame rising
    // toward the temple or a rim lit from one side shows only part of it.
    std::array<std::optional<float>, 2> rimsBelow(const cv::Mat& frame,
                                                  const std::array<cv::Point2f, 2>& eyes,
                                                  const FaceGeometry& face);

private:
    // pairedDepth: the other lens's rim, as rimsBelow gives it.
    std::optional<float> rimBelow(const cv::Mat& frame, cv::Point2f eye, const FaceGeometry& face,
                                  std::optional<float> pairedDepth);
    std::optional<float> rimInStrip(float eyeDistance, std::optional<float> pairedRow);
    // The lowest row of the deepest rim that curves across the strip (near pairedRow, when
    // given), or -1 when there is none.
    int curvedRimRow(int reach, std::optional<float> pairedRow, float tolerance);
    // Per strip pixel, how much darker it is than the skin a reach above and below it (the dimmer
    // side's brightest).
    void measureContrast(int reach);
    // The darkest path ending at each pixel that moves at most one row per column (m_from: the
    // row it came from in the column before).
    void followDarkPaths();

    cv::Mat m_strip;
    cv::Mat m_grey;
    cv::Mat m_darkest;
    cv::Mat m_brightest;
    cv::Mat m_contrast;
    cv::Mat m_score;
    cv::Mat m_from;
};

}  // namespace facelume
