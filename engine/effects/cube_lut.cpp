#include "cube_lut.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace facelume {

namespace {

constexpr int kMinSize = 2;
constexpr int kMaxSize = 256;

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string_view nextToken(std::string_view& rest) {
    rest = trim(rest);
    const auto end = rest.find_first_of(" \t");
    const std::string_view token = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    return token;
}

// Locale-independent: the service's locale may use a decimal comma.
bool readFloats(std::string_view text, float* values, int count) {
    for (int i = 0; i < count; ++i) {
        std::string_view token = nextToken(text);
        if (!token.empty() && token.front() == '+') token.remove_prefix(1);
        const auto [end, error] =
            std::from_chars(token.data(), token.data() + token.size(), values[i]);
        if (token.empty() || error != std::errc() || end != token.data() + token.size() ||
            !std::isfinite(values[i])) {
            return false;
        }
    }
    text = trim(text);
    return text.empty() || text.front() == '#';
}

bool startsData(std::string_view line) {
    const char c = line.front();
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
}

}  // namespace

LoadResult CubeLut::load(const std::string& path) {
    clear();
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return LoadResult::failure(path + ": cannot be opened for reading");
    return parse(in, path);
}

LoadResult CubeLut::parse(std::istream& in, const std::string& sourceName) {
    clear();
    const auto fail = [&](int lineNumber, const std::string& problem) {
        clear();
        return LoadResult::failure(sourceName + " line " + std::to_string(lineNumber) + ": " +
                                   problem);
    };
    bool haveDomainMin = false, haveDomainMax = false, haveRange = false;
    size_t expected = 0;
    int lineNumber = 0;
    std::string buffer;
    while (std::getline(in, buffer)) {
        ++lineNumber;
        std::string_view line = buffer;
        if (lineNumber == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;

        if (startsData(line)) {
            if (m_size == 0) return fail(lineNumber, "table data before LUT_3D_SIZE");
            if (m_table.size() == expected) {
                return fail(lineNumber, "more than the " + std::to_string(expected) +
                                            " table lines that LUT_3D_SIZE " +
                                            std::to_string(m_size) + " calls for");
            }
            cv::Vec3f colour;
            if (!readFloats(line, colour.val, 3)) {
                return fail(lineNumber,
                            "expected three numbers, found \"" + std::string(line) + "\"");
            }
            m_table.push_back(colour);
            continue;
        }

        if (!m_table.empty()) return fail(lineNumber, "keyword after the table data");
        std::string_view rest = line;
        const std::string_view keyword = nextToken(rest);
        if (keyword == "TITLE") {
            std::string_view title = trim(rest);
            if (title.size() >= 2 && title.front() == '"' && title.back() == '"') {
                title = title.substr(1, title.size() - 2);
            }
            m_title = std::string(title);
        } else if (keyword == "LUT_3D_SIZE") {
            if (m_size != 0) return fail(lineNumber, "LUT_3D_SIZE given twice");
            float size = 0.f;
            if (!readFloats(rest, &size, 1) || size != std::floor(size) || size < kMinSize ||
                size > kMaxSize) {
                return fail(lineNumber, "LUT_3D_SIZE must be a whole number from " +
                                            std::to_string(kMinSize) + " to " +
                                            std::to_string(kMaxSize));
            }
            m_size = static_cast<int>(size);
            expected = static_cast<size_t>(m_size) * m_size * m_size;
            m_table.reserve(expected);
        } else if (keyword == "LUT_1D_SIZE" || keyword == "LUT_1D_INPUT_RANGE") {
            return fail(lineNumber, "1D tables are not supported, only LUT_3D_SIZE");
        } else if (keyword == "DOMAIN_MIN" || keyword == "DOMAIN_MAX") {
            const bool isMin = keyword == "DOMAIN_MIN";
            if (!readFloats(rest, (isMin ? m_domainMin : m_domainMax).val, 3)) {
                return fail(lineNumber, std::string(keyword) + " needs three numbers");
            }
            (isMin ? haveDomainMin : haveDomainMax) = true;
        } else if (keyword == "LUT_3D_INPUT_RANGE") {
            float range[2];
            if (!readFloats(rest, range, 2)) {
                return fail(lineNumber, "LUT_3D_INPUT_RANGE needs two numbers");
            }
            m_domainMin = cv::Vec3f::all(range[0]);
            m_domainMax = cv::Vec3f::all(range[1]);
            haveRange = true;
        } else {
            // Vendor extensions (LUT_IN_VIDEO_RANGE and the like) do not change the table.
        }
    }
    if (in.bad()) return fail(lineNumber, "read error");
    if (haveRange && (haveDomainMin || haveDomainMax)) {
        return fail(lineNumber, "both LUT_3D_INPUT_RANGE and DOMAIN_MIN/DOMAIN_MAX given");
    }
    if (m_size == 0) return fail(lineNumber, "no LUT_3D_SIZE, not a 3D .cube file");
    if (m_table.size() != expected) {
        return fail(lineNumber, "the table ends after " + std::to_string(m_table.size()) + " of " +
                                    std::to_string(expected) + " lines");
    }
    for (int c = 0; c < 3; ++c) {
        if (!(m_domainMin[c] < m_domainMax[c])) {
            return fail(lineNumber, "DOMAIN_MIN must be below DOMAIN_MAX in every channel");
        }
    }
    return LoadResult::success();
}

void CubeLut::clear() {
    m_size = 0;
    m_title.clear();
    m_domainMin = cv::Vec3f(0.f, 0.f, 0.f);
    m_domainMax = cv::Vec3f(1.f, 1.f, 1.f);
    m_table.clear();
}

}  // namespace facelume
