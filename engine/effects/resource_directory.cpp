#include "resource_directory.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace facelume {

namespace fs = std::filesystem;

namespace {

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\:") == std::string::npos;
}

}  // namespace

ResourceDirectory::ResourceDirectory(std::string folder, std::string extension)
    : m_folder(std::move(folder)), m_extension(std::move(extension)) {}

std::string ResourceDirectory::find(const std::string& name) const {
    if (!isPlainName(name)) return {};
    const fs::path path = fs::u8path(m_folder) / fs::u8path(name + m_extension);
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return {};
    return path.u8string();
}

std::string ResourceDirectory::listing() const {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(fs::u8path(m_folder), error), end; !error && it != end;
         it.increment(error)) {
        const fs::path& path = it->path();
        if (path.extension().u8string() == m_extension) names.push_back(path.stem().u8string());
    }
    if (names.empty()) return "none";
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace facelume
