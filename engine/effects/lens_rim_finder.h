#pragma once

// Finds the lower rim of a spectacle lens below an eye: a thin band, darker than the skin above
// and below it, running across the cheek under the eye, straight or curving with the lens. Blush
// stops there; painted into the lens it would tint the glasses. Light-independent: the band is
// measured against its own surroundings. One thread at a time; never throws.

#include <optional>

#include <opencv2/core.hpp>

namespace facelume {

class FaceGeometry;

class LensRimFinder {
public:
    // How far below eye (a point on the lower lid, frame pixels) along the face's down axis the
    // rim's lower edge lies, or nothing when no rim is there.
    std::optional<float> rimBelow(const cv::Mat& frame, cv::Point2f eye, const FaceGeometry& face);

private:
    std::optional<float> rimInStrip(float eyeDistance);
    // The lowest row of the deepest rim that curves across the strip, or -1 when there is none.
    int curvedRimRow(int reach);
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
