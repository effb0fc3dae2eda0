#include "color_table.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "table_file.h"

namespace facelume {

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<cv::Vec3b> ColorTable::parseHex(const std::string& text) {
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    int rgb[3];
    for (int i = 0; i < 3; ++i) {
        const int high = hexDigit(text[1 + 2 * i]), low = hexDigit(text[2 + 2 * i]);
        if (high < 0 || low < 0) return std::nullopt;
        rgb[i] = high * 16 + low;
    }
    return cv::Vec3b(static_cast<uchar>(rgb[2]), static_cast<uchar>(rgb[1]),
                     static_cast<uchar>(rgb[0]));
}

LoadResult ColorTable::load(const std::string& path) {
    m_colors.clear();
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), ignored)) {
        return LoadResult::failure(path + ": no such file");
    }
    TableFile file;
    std::string problem;
    if (!file.load(path, problem)) {
        return LoadResult::failure(path + ": not a readable colour table (" + problem + ")");
    }
    const TableFile::Entry* table = file.find("colors");
    if (!table || !table->isMap) return LoadResult::failure(path + ": no map named \"colors\"");
    std::map<std::string, cv::Vec3b> colors;
    for (const TableFile::Entry& entry : table->children) {
        const std::optional<cv::Vec3b> color =
            entry.list ? std::nullopt : parseHex(entry.values.front());
        if (!color) {
            return LoadResult::failure(path + ": colour \"" + entry.key + "\" is not \"#rrggbb\"");
        }
        colors[lowerCase(entry.key)] = *color;
    }
    m_colors = std::move(colors);
    return LoadResult::success();
}

std::optional<cv::Vec3b> ColorTable::find(const std::string& name) const {
    if (std::optional<cv::Vec3b> hex = parseHex(name)) return hex;
    const auto it = m_colors.find(lowerCase(name));
    if (it == m_colors.end()) return std::nullopt;
    return it->second;
}

std::string ColorTable::listing() const {
    if (m_colors.empty()) return "none";
    std::string text;
    for (const auto& entry : m_colors) text += (text.empty() ? "" : ", ") + entry.first;
    return text;
}

}  // namespace facelume
