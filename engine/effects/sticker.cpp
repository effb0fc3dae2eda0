#include "sticker.h"

#include <cmath>
#include <filesystem>
#include <opencv2/imgproc.hpp>

#include "png_picture.h"

namespace facelume {

namespace {

constexpr int kLandmarks = 68;
constexpr float kLargestWidth = 20.f;  // eye distances
constexpr int kSmallestLevel = 8;      // pixels

cv::Mat toPremultipliedBgra(const cv::Mat& picture) {
    cv::Mat eightBit = picture;
    if (picture.depth() == CV_16U) picture.convertTo(eightBit, CV_8U, 1.0 / 257.0);
    cv::Mat bgra;
    switch (eightBit.channels()) {
        case 1:
            cv::cvtColor(eightBit, bgra, cv::COLOR_GRAY2BGRA);
            break;
        case 3:
            cv::cvtColor(eightBit, bgra, cv::COLOR_BGR2BGRA);
            break;
        default:
            bgra = eightBit.clone();
            break;
    }
    for (int y = 0; y < bgra.rows; ++y) {
        cv::Vec4b* row = bgra.ptr<cv::Vec4b>(y);
        for (int x = 0; x < bgra.cols; ++x) {
            const int alpha = row[x][3];
            for (int c = 0; c < 3; ++c)
                row[x][c] = static_cast<uchar>((row[x][c] * alpha + 127) / 255);
        }
    }
    return bgra;
}

bool readPoint(const cv::FileNode& node, cv::Point2f& point) {
    if (node.empty()) return true;  // optional: keep the default
    std::vector<float> values;
    if (!node.isSeq()) return false;
    node >> values;
    if (values.size() != 2 || !std::isfinite(values[0]) || !std::isfinite(values[1])) return false;
    point = cv::Point2f(values[0], values[1]);
    return true;
}

}  // namespace

LoadResult Sticker::load(const std::string& picturePath, const std::string& metadataPath) {
    m_levels.clear();
    LoadResult result = loadMetadata(metadataPath);
    if (result.ok()) result = loadPicture(picturePath);
    if (!result.ok()) m_levels.clear();
    return result;
}

LoadResult Sticker::loadPicture(const std::string& path) {
    const cv::Mat picture = readPngPicture(path);
    if (picture.empty()) return LoadResult::failure(path + ": not a readable picture");
    if (picture.channels() == 2 || picture.channels() > 4 ||
        (picture.depth() != CV_8U && picture.depth() != CV_16U)) {
        return LoadResult::failure(path + ": expected an 8- or 16-bit grey, RGB or RGBA picture");
    }
    m_levels.push_back(toPremultipliedBgra(picture));
    while (m_levels.back().cols / 2 >= kSmallestLevel &&
           m_levels.back().rows / 2 >= kSmallestLevel) {
        cv::Mat half;
        cv::pyrDown(m_levels.back(), half);
        m_levels.push_back(half);
    }
    return LoadResult::success();
}

LoadResult Sticker::loadMetadata(const std::string& path) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), ignored)) {
        return LoadResult::failure(path + ": no such file; every sticker needs its metadata");
    }
    try {
        cv::FileStorage storage(path, cv::FileStorage::READ);
        const auto fail = [&](const std::string& problem) {
            return LoadResult::failure(path + ": " + problem);
        };
        const cv::FileNode anchor = storage["anchor"];
        m_anchor.clear();
        if (anchor.isSeq()) anchor >> m_anchor;
        if (m_anchor.empty()) return fail("\"anchor\" must list landmark numbers");
        for (int index : m_anchor) {
            if (index < 0 || index >= kLandmarks) return fail("anchor landmarks are 0 to 67");
        }
        const cv::FileNode span = storage["span"];
        m_span.clear();
        if (!span.empty()) {
            if (span.isSeq()) span >> m_span;
            if (m_span.size() != 3) return fail("\"span\" must list three landmark numbers");
            for (int index : m_span) {
                if (index < 0 || index >= kLandmarks) return fail("span landmarks are 0 to 67");
            }
        }
        const cv::FileNode width = storage["width"];
        m_width = width.isReal() || width.isInt() ? static_cast<float>(width.real()) : 0.f;
        if (!(m_width > 0.f && m_width <= kLargestWidth)) {
            return fail("\"width\" must be a number above 0 and up to 20");
        }
        m_pivot = cv::Point2f(0.5f, 0.5f);
        m_offset = cv::Point2f(0.f, 0.f);
        if (!readPoint(storage["pivot"], m_pivot)) return fail("\"pivot\" needs [x, y]");
        if (!readPoint(storage["offset"], m_offset)) return fail("\"offset\" needs [x, y]");
        const cv::FileNode opacity = storage["opacity"];
        m_opacity = opacity.empty() ? 1.f : static_cast<float>(opacity.real());
        if (!(m_opacity >= 0.f && m_opacity <= 1.f)) return fail("\"opacity\" must be 0 to 1");
    } catch (const cv::Exception& error) {
        return LoadResult::failure(path + ": not readable metadata (" + error.msg + ")");
    } catch (const std::exception& error) {
        // OpenCV's parser lets some of the standard library's exceptions through.
        return LoadResult::failure(path + ": not readable metadata (" + error.what() + ")");
    }
    return LoadResult::success();
}

const cv::Mat& Sticker::levelFor(float scale) const {
    size_t level = 0;
    // Halve while the drawn size stays at or below half of the level's size.
    while (level + 1 < m_levels.size() && scale * m_levels[0].cols <= 0.5f * m_levels[level].cols) {
        ++level;
    }
    return m_levels[level];
}

}  // namespace facelume
