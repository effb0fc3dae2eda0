#pragma once

// Paints one colour onto a region of the frame through a soft mask, the way make-up is put
// on: the colour's hue and saturation replace the skin's, while the skin's own light and
// shade stay (the colour is scaled to each pixel's brightness), with an optional pull of
// brightness toward the colour's. The caller draws the mask shape with the fill operations (frame
// coordinates), feathers it, then paints. Its mask buffer is kept and reused: no allocation
// once the frame size is stable. One thread at a time.

#include <vector>

#include <opencv2/core.hpp>

namespace facelume {

class TintBrush {
public:
    // Starts a cleared mask over `area` of a frame of this size. False when the clipped area
    // is empty: there is nothing to paint.
    bool begin(cv::Size frameSize, cv::Rect area);
    void fillPolygon(const std::vector<cv::Point2f>& polygon, uchar value);
    void fillEllipse(cv::Point2f centre, cv::Size2f halfAxes, float angleDegrees, uchar value);
    void feather(double sigma);
    // Zero outside the polygon: a feathered mask no longer spills past it.
    void clipToPolygon(const std::vector<cv::Point2f>& polygon);

    // opacity 0..1 where the mask is full; lumaPull 0 keeps the pixel's brightness, 1 takes
    // the colour's. colour in (b, g, r).
    void paint(cv::Mat& frame, cv::Vec3b color, float opacity, float lumaPull) const;
    // The same in CIE Lab: the colour's a and b replace the pixel's, so the change is as visible
    // on dark skin as on light (scaled to the brightness, a tint all but vanishes on dark skin).
    void paintPerceived(cv::Mat& frame, cv::Vec3b color, float opacity, float lumaPull);

    cv::Rect area() const { return m_area; }
    const cv::Mat& mask() const { return m_mask; }

private:
    cv::Point fixedPoint(cv::Point2f p) const;
    void fillPolygonInto(cv::Mat& mask, const std::vector<cv::Point2f>& polygon, uchar value,
                         int lineType);

    cv::Mat m_buffer;        // frame-sized backing store
    cv::Mat m_mask;          // the view of m_buffer over m_area
    cv::Mat m_clipBuffer;    // the same for the clipping polygon
    cv::Mat m_labBuffer;     // the same for the Lab working copy
    cv::Mat m_tintedBuffer;  // and for its tinted copy
    cv::Rect m_area;
    std::vector<cv::Point> m_points;
};

}  // namespace facelume
