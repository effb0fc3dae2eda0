// The private socket folder: which folder is taken, and which ones are refused.

#include "socket_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine_log.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(SocketPathTest, TakesOnlyAFolderOfThisUserThatNobodyElseMayEnter) {
    const ScratchFolder root("socketpath");
    const auto folder = [&root](const std::string& name, mode_t mode) {
        const std::string path = root.file(name);
        fs::create_directory(path);
        ::chmod(path.c_str(), mode);
        return path;
    };
    const std::string uid = std::to_string(::geteuid());
    const std::string privateRuntime = folder("runtime", 0700) + "/";
    const std::string openRuntime = folder("open_runtime", 0755);
    const std::string tmp = root.path();
    const std::string fallback = tmp + "/facelume-" + uid;

    setEnvironment("TMPDIR", tmp.c_str());
    setEnvironment("XDG_RUNTIME_DIR", privateRuntime.c_str());
    EXPECT_EQ(protocol::socketPath("n2_pipe").path, privateRuntime + "n2_pipe");
    EXPECT_EQ(protocol::socketPath("/run/x_pipe").path, "/run/x_pipe");
    // An open runtime folder is passed over; the fallback is made private.
    setEnvironment("XDG_RUNTIME_DIR", openRuntime.c_str());
    EXPECT_EQ(protocol::socketPath("n2_pipe").path, fallback + "/n2_pipe");
    struct stat status {};
    ASSERT_EQ(::lstat(fallback.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    setEnvironment("XDG_RUNTIME_DIR", nullptr);
    const auto refused = [](const std::string& why) {
        const protocol::SocketPath socket = protocol::socketPath("n2_pipe");
        EXPECT_EQ(socket.path, "") << why;
        EXPECT_NE(socket.error.find("XDG_RUNTIME_DIR"), std::string::npos) << socket.error;
    };
    ::chmod(fallback.c_str(), 0750);
    refused("open to the group");
    fs::remove(fallback);
    fs::create_directory_symlink(privateRuntime, fallback);
    refused("a link, which may lead anywhere");
    fs::remove(fallback);
    if (::geteuid() == 0) {
        folder("facelume-" + uid, 0700);
        ASSERT_EQ(::chown(fallback.c_str(), 65534, 65534), 0);
        refused("another user's");
    }
}

}  // namespace
