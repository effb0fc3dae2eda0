#pragma once

// Reads a PNG file with libpng into an 8-bit BGRA picture (grey and RGB pictures get an opaque
// alpha, palettes are expanded, 16-bit samples scaled down with rounding). The engine reads its
// stickers this way instead of through OpenCV's image codecs, which would pull dozens of codec
// libraries (GDAL, GDCM, ...) into the service. Empty on any failure. Thread-safe.

#include <string>

#include <opencv2/core.hpp>

namespace facelume {

cv::Mat readPngPicture(const std::string& path);

}  // namespace facelume
