#include "sticker.h"

#include <cmath>
#include <filesystem>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <optional>

#include "png_picture.h"
#include "table_file.h"

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

// A list of numbers that a float holds, of that many entries (any when count is 0), or nothing.
std::optional<std::vector<double>> numbers(const TableFile::Entry* entry, size_t count) {
    if (!entry || !entry->list || entry->values.empty()) return std::nullopt;
    if (count && entry->values.size() != count) return std::nullopt;
    std::vector<double> values;
    for (const std::string& text : entry->values) {
        const std::optional<double> value = TableFile::number(text);
        if (!value || std::abs(*value) > std::numeric_limits<float>::max()) return std::nullopt;
        values.push_back(*value);
    }
    return values;
}

// Landmark numbers, 0 to 67; false when any is not one.
bool readLandmarks(const TableFile::Entry* entry, size_t count, std::vector<int>& landmarks) {
    landmarks.clear();
    const auto values = numbers(entry, count);
    if (!values) return false;
    for (const double value : *values) {
        if (value != std::floor(value) || value < 0 || value >= kLandmarks) return false;
        landmarks.push_back(int(value));
    }
    return true;
}

bool readPoint(const TableFile::Entry* entry, cv::Point2f& point) {
    if (!entry) return true;  // optional: keep the default
    const auto values = numbers(entry, 2);
    if (!values) return false;
    point = cv::Point2f(float((*values)[0]), float((*values)[1]));
    return true;
}

std::optional<double> scalarNumber(const TableFile::Entry* entry) {
    if (!entry || entry->list || entry->isMap) return std::nullopt;
    return TableFile::number(entry->values.front());
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
    const auto fail = [&](const std::string& problem) {
        return LoadResult::failure(path + ": " + problem);
    };
    TableFile file;
    std::string problem;
    if (!file.load(path, problem)) return fail("not readable metadata (" + problem + ")");
    if (!readLandmarks(file.find("anchor"), 0, m_anchor)) {
        return fail("\"anchor\" must list landmark numbers, 0 to 67");
    }
    const TableFile::Entry* span = file.find("span");
    m_span.clear();
    if (span && !readLandmarks(span, 3, m_span)) {
        return fail("\"span\" must list three landmark numbers, 0 to 67");
    }
    const double width = scalarNumber(file.find("width")).value_or(0.0);
    if (!(width > 0.0 && width <= kLargestWidth)) {
        return fail("\"width\" must be a number above 0 and up to 20");
    }
    m_width = float(width);
    m_pivot = cv::Point2f(0.5f, 0.5f);
    m_offset = cv::Point2f(0.f, 0.f);
    if (!readPoint(file.find("pivot"), m_pivot)) return fail("\"pivot\" needs [x, y]");
    if (!readPoint(file.find("offset"), m_offset)) return fail("\"offset\" needs [x, y]");
    const TableFile::Entry* opacity = file.find("opacity");
    const double opaque = opacity ? scalarNumber(opacity).value_or(-1.0) : 1.0;
    if (!(opaque >= 0.0 && opaque <= 1.0)) return fail("\"opacity\" must be 0 to 1");
    m_opacity = float(opaque);
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
