#pragma once

// A fresh folder named after the prefix and the running test, removed again at the end.

#include <filesystem>
#include <string>

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix = "facelumetest");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string path() const { return m_path.string(); }
    // The path of a file under the folder.
    std::string file(const std::string& relativePath) const {
        return (m_path / relativePath).string();
    }
    // Writes text to a file under the folder; returns the file's path.
    std::string write(const std::string& relativePath, const std::string& text) const;
    // All a file under the folder holds; empty when it cannot be read.
    std::string read(const std::string& relativePath) const;

private:
    std::filesystem::path m_path;
};
