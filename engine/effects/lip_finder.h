#pragma once

// Finds lips that the landmarks put a step too low. On a head bowed toward the camera the landmark
// fit can take the dark fold under the lower lip for the line between the lips, and lay the lips
// over the real lower lip and the chin. Three signs in the picture must all show it: the fitted
// lower lip is no lighter than the fitted upper one, on the whole or in its highlights (lit from
// above, a lower lip catches the light and the upper one is shaded: here the fitted upper lip is
// the real, lit lower lip and the fitted lower one lies on skin); higher up a dark line along the
// fitted mouth line's curve is deeper than the one the fit took; and the nearest such line also
// runs on beyond the nose's sides, as the line between the lips does and the nose's shadow does
// not. Only brightness is used, each against its own surroundings, so neither the light nor the
// picture's colour matters. Small faces and lips at the frame's edge keep their fit. One thread
// at a time; never throws.

#include <array>
#include <vector>

#include <opencv2/core.hpp>

namespace facelume {

class FaceGeometry;

class LipFinder {
public:
    // How far to move the fitted lips, in frame pixels: up to the line between the lips, or zero
    // where the fit stays. frame: CV_8UC3.
    cv::Point2f shift(const cv::Mat& frame, const FaceGeometry& face);

private:
    // The frame's brightness over m_area into m_grey.
    void takeGrey(const cv::Mat& frame);
    struct Brightness {
        double mean = 0;
        int highlight = 0;  // the value the lightest tenth of the pixels reach
    };
    // Of m_grey inside the polygon of the face's landmarks at indices.
    Brightness brightnessInside(const FaceGeometry& face, const std::array<int, 12>& indices);
    // How much darker the fitted mouth line moved by offset is than the dimmer of its two sides a
    // reach away, as a fraction of their brightness: over its whole length, or without the part
    // whose position along `across` lies between skipFrom and skipTo.
    float lineDepth(cv::Point2f offset, cv::Point2f reach, cv::Point2f across = {},
                    float skipFrom = 0.f, float skipTo = 0.f) const;
    float smoothAt(cv::Point2f p) const;

    cv::Rect m_area;
    // Views over m_area into buffers that only grow.
    cv::Mat m_grey, m_greyBuffer;
    cv::Mat m_smooth, m_smoothBuffer;
    cv::Mat m_mask, m_maskBuffer;
    // The lips' outline, then the samples along the fitted mouth line.
    std::vector<cv::Point2f> m_points;
    std::vector<cv::Point> m_polygon;
};

}  // namespace facelume
