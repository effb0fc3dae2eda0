#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "socket_path.h"

namespace protocol {
namespace {

constexpr char kAdvice[] = "; set XDG_RUNTIME_DIR to a folder of yours with mode 0700";

std::string withoutTrailingSlashes(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// lstat, not stat: a symbolic link could point anywhere, also into another user's folder.
bool isPrivateFolder(const std::string& folder, struct stat* status) {
    return ::lstat(folder.c_str(), status) == 0 && S_ISDIR(status->st_mode) &&
           status->st_uid == ::geteuid() && (status->st_mode & 0777) == 0700;
}

std::string octal(unsigned mode) {
    std::string digits;
    for (int shift = 6; shift >= 0; shift -= 3) digits += char('0' + ((mode >> shift) & 7));
    return "0" + digits;
}

}  // namespace

SocketPath socketPath(const std::string& pipeName) {
    if (!pipeName.empty() && pipeName[0] == '/') return {pipeName, std::string()};
    struct stat status {};
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const std::string folder = withoutTrailingSlashes(runtime);
        if (isPrivateFolder(folder, &status)) return {folder + "/" + pipeName, std::string()};
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string base =
        withoutTrailingSlashes(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp");
    const std::string folder = base + "/facelume-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {std::string(),
                "cannot make the socket folder " + folder + ": " + std::strerror(errno) + kAdvice};
    }
    if (!isPrivateFolder(folder, &status)) {
        return {std::string(), "the socket folder " + folder +
                                   " is not a folder of this user with mode 0700 (owner " +
                                   std::to_string(status.st_uid) + ", mode " +
                                   octal(status.st_mode & 0777) + "); remove it" + kAdvice};
    }
    return {folder + "/" + pipeName, std::string()};
}

}  // namespace protocol
