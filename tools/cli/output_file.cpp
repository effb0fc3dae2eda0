#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

OutputFile::~OutputFile() { discard(); }

std::string OutputFile::create(const std::string& output) {
    discard();
    const fs::path target = fs::absolute(output);
    std::error_code error;
    if (!fs::is_directory(target.parent_path(), error)) {
        return "the folder " + target.parent_path().string() + " does not exist";
    }
    if (fs::is_directory(target, error)) return output + " is a folder";
    // ".name-XXXXXX.ext": hidden while written, and the extension tells the writer the format.
    const std::string extension = target.extension().string();
    std::string pattern =
        (target.parent_path() / ("." + target.stem().string() + "-XXXXXX")).string() + extension;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemps(name.data(), static_cast<int>(extension.size()));
    if (fd < 0) {
        return "cannot write into " + target.parent_path().string() + ": " + std::strerror(errno);
    }
    // mkstemps makes the file private; the output gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    m_output = target.string();
    m_temporary = name.data();
    return {};
}

std::string OutputFile::commit() {
    if (::rename(m_temporary.c_str(), m_output.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        discard();
        return "cannot write " + m_output + ": " + reason;
    }
    m_temporary.clear();
    return {};
}

void OutputFile::discard() {
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
    m_temporary.clear();
}
