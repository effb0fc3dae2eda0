#pragma once

// Working images whose size follows a face region, which changes by a pixel or two from frame
// to frame. workArea() hands out a view of the requested size into a member buffer that only
// ever grows (with some slack), so a moving face does not reallocate the effect's images on every
// frame. OpenCV functions that write into such a view keep it, since its size and type already
// match what they create. Views are not continuous: walk them row by row. Filters on a view
// (blurs, box filters) read the buffer's stale pixels beyond the view's edge unless their border
// type carries cv::BORDER_ISOLATED.

#include <algorithm>

#include <opencv2/core.hpp>

namespace facelume {

inline cv::Mat workArea(cv::Mat& buffer, cv::Size size, int type) {
    if (buffer.type() != type || buffer.cols < size.width || buffer.rows < size.height) {
        // A quarter more than asked for, so that a growing region settles after a few steps.
        const int width = size.width + size.width / 4 + 8;
        const int height = size.height + size.height / 4 + 8;
        // Keeping the old width or height as well is worth it only while the buffer stays near
        // the asked-for area: a wide region and then a tall one must not reserve their square.
        const int keptWidth = std::max(buffer.cols, width);
        const int keptHeight = std::max(buffer.rows, height);
        if (double(keptWidth) * keptHeight <= 2.0 * double(width) * height) {
            buffer.create(keptHeight, keptWidth, type);
        } else {
            buffer.create(height, width, type);
        }
    }
    return buffer(cv::Rect(0, 0, size.width, size.height));
}

// size times scale, rounded, at least one pixel each way: the size of a reduced working copy.
inline cv::Size scaledSize(cv::Size size, double scale) {
    return {std::max(1, cvRound(size.width * scale)), std::max(1, cvRound(size.height * scale))};
}

}  // namespace facelume
