#include "table_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace facelume {

namespace {

// Larger files are no tables of ours; the limit keeps a wrong path from being read whole.
constexpr std::uintmax_t kLargestFile = 1 << 20;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// YAML's comments: a '#' at the start or after a space, outside quotes ("#rrggbb" stays).
std::string withoutComment(const std::string& line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == '#' && !quoted && (i == 0 || line[i - 1] == ' ')) return line.substr(0, i);
    }
    return line;
}

bool scalar(const std::string& text, std::string& value) {
    if (text.empty()) return false;
    if (text.front() == '"') {
        if (text.size() < 2 || text.back() != '"') return false;
        value = text.substr(1, text.size() - 2);
        return value.find('"') == std::string::npos;
    }
    if (text.find_first_of("\"'[]{},&*!|>%@`") != std::string::npos) return false;
    value = text;
    return true;
}

bool list(const std::string& text, std::vector<std::string>& values) {
    const std::string inside = trimmed(text.substr(1, text.size() - 2));
    if (inside.empty()) return true;
    std::stringstream items(inside);
    std::string item, value;
    while (std::getline(items, item, ',')) {
        if (!scalar(trimmed(item), value)) return false;
        values.push_back(value);
    }
    return true;
}

bool readValue(const std::string& text, TableFile::Entry& entry) {
    if (text.empty()) {
        entry.isMap = true;
        return true;
    }
    if (text.front() == '[') {
        entry.list = true;
        return text.back() == ']' && list(text, entry.values);
    }
    entry.values.emplace_back();
    return scalar(text, entry.values.back());
}

bool keyTaken(const std::vector<TableFile::Entry>& entries, const std::string& key) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const TableFile::Entry& e) { return e.key == key; });
}

}  // namespace

bool TableFile::load(const std::string& path, std::string& error) {
    const std::filesystem::path file = std::filesystem::u8path(path);
    std::error_code failed;
    const std::uintmax_t size = std::filesystem::file_size(file, failed);
    if (failed || size > kLargestFile) {
        error = failed ? "cannot be read" : "is larger than a table can be (1 MiB)";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        error = "cannot be read";
        return false;
    }
    return parse(text.str(), error);
}

bool TableFile::parse(const std::string& text, std::string& error) {
    m_entries.clear();
    m_started = false;
    std::stringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!parseLine(line, number, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            m_entries.clear();
            return false;
        }
    }
    return true;
}

bool TableFile::parseLine(const std::string& raw, int number, std::string& error) {
    if (raw.find('\t') != std::string::npos || raw.find('\0') != std::string::npos) {
        error = "tabs and NUL characters are not allowed";
        return false;
    }
    const std::string line = withoutComment(raw);
    const std::string content = trimmed(line);
    if (content.empty()) return true;
    if (!m_started && (content == "---" || (number == 1 && content.rfind("%YAML", 0) == 0))) {
        m_started = content == "---";
        return true;
    }
    m_started = true;
    const bool indented = line.front() == ' ';
    if (indented && (m_entries.empty() || !m_entries.back().isMap)) {
        error = "an indented line outside a map";
        return false;
    }
    std::vector<Entry>& level = indented ? m_entries.back().children : m_entries;
    const auto colon = content.find(':');
    const bool keyEnds =
        colon != std::string::npos && (colon + 1 == content.size() || content[colon + 1] == ' ');
    Entry entry;
    entry.key = keyEnds ? trimmed(content.substr(0, colon)) : std::string();
    if (entry.key.empty() || entry.key.find_first_of(" \"'[]{}#") != std::string::npos) {
        error = "expected \"key: value\"";
        return false;
    }
    if (keyTaken(level, entry.key)) {
        error = "\"" + entry.key + "\" given twice";
        return false;
    }
    if (!readValue(trimmed(content.substr(colon + 1)), entry) || (indented && entry.isMap)) {
        error = "\"" + entry.key + "\" has a value that is no number, word, \"text\" or [list]";
        return false;
    }
    level.push_back(std::move(entry));
    return true;
}

const TableFile::Entry* TableFile::find(const std::string& key) const {
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry& e) { return e.key == key; });
    return it == m_entries.end() ? nullptr : &*it;
}

std::optional<double> TableFile::number(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, value);
    if (problem != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<int> TableFile::integer(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, value);
    if (problem != std::errc() || stop != end) return std::nullopt;
    return value;
}

}  // namespace facelume
