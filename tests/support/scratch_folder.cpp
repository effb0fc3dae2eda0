#include "scratch_folder.h"

#include <fstream>
#include <sstream>

#include "test_names.h"

ScratchFolder::ScratchFolder(const std::string& prefix)
    : m_path(std::filesystem::temp_directory_path() / testnames::letterName(prefix)) {
    std::filesystem::remove_all(m_path);  // leftovers of a crashed run
    std::filesystem::create_directories(m_path);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchFolder::write(const std::string& relativePath, const std::string& text) const {
    const std::filesystem::path file = m_path / relativePath;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file.string();
}

std::string ScratchFolder::read(const std::string& relativePath) const {
    std::ostringstream text;
    text << std::ifstream(m_path / relativePath, std::ios::binary).rdbuf();
    return text.str();
}
