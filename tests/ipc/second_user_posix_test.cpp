// Another local user against a running channel: every named object and the command socket must
// refuse them while the service goes on serving its own client. Needs root to become that user.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <sys/fsuid.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "channel_client.h"
#include "platform_safe_key.h"
#include "protocol.h"
#include "service_process.h"
#include "socket_path.h"
#include "test_application.h"

namespace {

constexpr int kWaitMs = 10000;

constexpr uid_t kStranger = 65534;  // nobody, and its group nogroup

// One attempt of the stranger on `target`; `refused` tells whether the system turned it down.
struct Attempt {
    std::string what;
    bool (*refused)(const std::string& target);
    std::string target;
};

bool segmentRefused(const std::string& name) {
    const int fd = ::shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd >= 0) ::close(fd);
    return fd < 0;
}

bool semaphoreRefused(const std::string& name) {
    sem_t* semaphore = ::sem_open(("/" + name).c_str(), 0);
    if (semaphore != SEM_FAILED) ::sem_close(semaphore);
    return semaphore == SEM_FAILED;
}

// Refused at connect, or closed by the service before it reads anything (a connection it keeps
// gives nothing to read, and the read ends after its time-out).
bool socketRefused(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return true;
    }
    char byte = 0;
    const bool closed = ::read(fd, &byte, 1) == 0;
    ::close(fd);
    return closed;
}

// The socket's folder and mode let the owner's file identity in; the service must still refuse
// the connection of another user by what the kernel says about its peer.
bool peerRefused(const std::string& path) {
    ::setfsuid(0);
    const bool refused = socketRefused(path);
    ::setfsuid(kStranger);
    return refused;
}

// Runs the attempts as the stranger in a child process, which exits with 1 + the index of the
// first that got through, or 0. Returns what got through, or "" when each was refused.
std::string strangerGotThrough(const std::vector<Attempt>& attempts) {
    const pid_t child = ::fork();
    if (child == 0) {
        // Root stays the saved user, so that peerRefused can take root's file identity.
        if (::setgroups(0, nullptr) != 0 || ::setgid(kStranger) != 0 ||
            ::setresuid(kStranger, kStranger, 0) != 0)
            ::_exit(255);
        for (std::size_t i = 0; i < attempts.size(); ++i)
            if (!attempts[i].refused(attempts[i].target)) ::_exit(static_cast<int>(i) + 1);
        ::_exit(0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    const std::size_t through = WIFEXITED(status) ? WEXITSTATUS(status) : 255;
    if (through == 0) return "";
    if (through > attempts.size()) return "the child could not become the second user";
    return attempts[through - 1].what + " got through: " + attempts[through - 1].target;
}

class SecondUserTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
};

TEST_F(SecondUserTest, AnotherUserReachesNothingWhileTheServiceServesItsClient) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "becoming another user takes root; run this test as root to check that "
                        "another user can reach no segment, semaphore or socket of a channel";
    }
    const ChannelNames names = channelNames("flt_user");
    ServiceProcess service;
    ASSERT_TRUE(service.launch({names.receive, names.send, "4096"}));
    ChannelClient client(names.receive, names.send, 4096);
    ASSERT_TRUE(client.join(kWaitMs));
    const QByteArray frame = makeFrame(4, 4, 1);
    ASSERT_TRUE(client.writeMessage(frame) && client.readMessage(kWaitMs) == invertedFrame(frame));

    std::vector<Attempt> attempts;
    for (const QString& name : {names.receive, names.send}) {
        const std::string key = protocol::segmentKey(name.toStdString());
        const std::string segment = makePlatformSafeKey(key, kSharedMemoryKeyPrefix);
        for (const std::string& file : {segment, segment + ".holders", segment + ".gate"})
            attempts.push_back({"segment file", segmentRefused, file});
        attempts.push_back({"segment lock", semaphoreRefused,
                            makePlatformSafeKey(key, kSystemSemaphoreKeyPrefix)});
        attempts.push_back({"notification", semaphoreRefused,
                            protocol::notificationNativeName(protocol::notificationKey(key))});
    }
    const std::string socket =
        protocol::socketPath(protocol::pipeName(names.receive.toStdString())).path;
    attempts.push_back({"command socket", socketRefused, socket});
    attempts.push_back({"command socket past its mode", peerRefused, socket});

    // The owner reaches every object, so a refusal below is not a missing name (the sockets last).
    for (std::size_t i = 0; i + 2 < attempts.size(); ++i)
        ASSERT_FALSE(attempts[i].refused(attempts[i].target)) << attempts[i].target;
    EXPECT_EQ(strangerGotThrough(attempts), "");

    const QByteArray after = makeFrame(4, 4, 9);
    EXPECT_TRUE(client.writeMessage(after) && client.readMessage(kWaitMs) == invertedFrame(after));
}

}  // namespace
