#pragma once

// Helpers shared by the tests of the looks: a private scratch folder per test, files written
// into it, stderr capture, and where the built resources and test pictures are.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace facelume::testing {

inline const std::string kBuiltResources = FACELUME_TEST_RESOURCES;
inline const std::string kTestPictures = FACELUME_TEST_PICTURES;

// A fresh folder named after the running test, removed again at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = std::filesystem::temp_directory_path() /
                 ("facelume_looks_" + std::string(info->test_suite_name()) + "_" + info->name());
        std::filesystem::remove_all(m_path);  // leftovers of a crashed run
        std::filesystem::create_directories(m_path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string path() const { return m_path.string(); }
    std::string write(const std::string& relativePath, const std::string& text) const {
        const std::filesystem::path file = m_path / relativePath;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }

private:
    std::filesystem::path m_path;
};

inline int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace facelume::testing
