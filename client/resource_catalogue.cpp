#include "resource_catalogue.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace facelume {
namespace {

namespace fs = std::filesystem;

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> filesWithExtension(const fs::path& folder, const std::string& extension) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        if (path.extension().u8string() == extension && fs::is_regular_file(path, error)) {
            names.push_back(path.stem().u8string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The "name: "#rrggbb"" entries of the colour table, in lower case.
std::vector<std::string> colourNames(const fs::path& table) {
    std::vector<std::string> names;
    std::ifstream file(table);
    for (std::string line; std::getline(file, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = trimmed(line.substr(colon + 1));
        value = value.substr(0, value.find_first_of(" \t", 1));
        if (value.size() == 9 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, 7);
        }
        const std::string name = trimmed(line.substr(0, colon));
        if (!name.empty() && name[0] != '#' && ResourceCatalogue::isHexColour(value)) {
            names.push_back(lowerCase(name));
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string listing(const std::vector<std::string>& names) {
    if (names.empty()) return "none";
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

const char* kindName(NameKind kind) {
    switch (kind) {
        case NameKind::Filter:
            return "filter";
        case NameKind::Sticker:
            return "sticker";
        case NameKind::Colour:
            return "colour";
    }
    return "name";
}

}  // namespace

void ResourceCatalogue::load(const std::string& folder) {
    m_folder = folder;
    m_filters.clear();
    m_stickers.clear();
    m_colours.clear();
    if (folder.empty()) return;
    const fs::path root = fs::u8path(folder);
    m_filters = filesWithExtension(root / "filters", ".cube");
    m_stickers = filesWithExtension(root / "stickers", ".png");
    m_colours = colourNames(root / "makeup" / "colors.yml");
}

const std::vector<std::string>& ResourceCatalogue::names(NameKind kind) const {
    switch (kind) {
        case NameKind::Filter:
            return m_filters;
        case NameKind::Sticker:
            return m_stickers;
        case NameKind::Colour:
            break;
    }
    return m_colours;
}

Result ResourceCatalogue::check(NameKind kind, const std::string& name) const {
    if (name.empty()) return Result::ok();
    if (kind == NameKind::Colour && name[0] == '#') {
        if (isHexColour(name)) return Result::ok();
        return {Status::InvalidArgument,
                "the colour \"" + name + "\" is not of the form #rrggbb (six hexadecimal digits)"};
    }
    if (m_folder.empty()) return Result::ok();
    const std::vector<std::string>& known = names(kind);
    const std::string wanted = kind == NameKind::Colour ? lowerCase(name) : name;
    if (std::binary_search(known.begin(), known.end(), wanted)) return Result::ok();
    std::string text = std::string("unknown ") + kindName(kind) + " \"" + name + "\"; available";
    if (kind == NameKind::Colour) text += ": #rrggbb or";
    return {Status::InvalidArgument, text + " in " + m_folder + ": " + listing(known)};
}

std::string ResourceCatalogue::folderFor(const std::string& executable) {
    std::error_code error;
    const fs::path home = fs::u8path(executable).parent_path();
    for (const fs::path& folder : {home / "beauty_res", home / FACELUME_RELATIVE_RESOURCES}) {
        if (fs::is_directory(folder, error)) return folder.lexically_normal().u8string();
    }
    return {};
}

bool ResourceCatalogue::isHexColour(const std::string& text) {
    return text.size() == 7 && text[0] == '#' &&
           std::all_of(text.begin() + 1, text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0; });
}

}  // namespace facelume
