// The running service end to end: the facelume executable with the recording engine as a child
// process, and a client in this process that follows docs/protocol.md. On Linux also another local
// user against it, which needs root to become that user.

#include <gtest/gtest.h>

#include <QThread>
#include <algorithm>
#include <memory>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/fsuid.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform_safe_key.h"
#include "socket_path.h"
#endif

#include "channel_client.h"
#include "protocol.h"
#include "service_process.h"
#include "test_application.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr int kDefaultSize = 921700;

#ifndef _WIN32
constexpr uid_t kStranger = 65534;  // nobody, and its group nogroup

// One attempt of the stranger on `target`; `refused` tells whether the system turned it down.
struct Attempt {
    std::string what;
    bool (*refused)(const std::string& target);
    std::string target;
};

// A named object's file in /dev/shm, a semaphore's ("sem." + its name) included.
bool fileRefused(const std::string& name) {
    const int fd = ::shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd >= 0) ::close(fd);
    return fd < 0;
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
#endif

class ChannelServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    bool launch(int size) {
        return m_service.launch({m_names.receive, m_names.send, QString::number(size)});
    }
    // A new client takes the place of the last one.
    ChannelClient& newClient(int size) {
        m_client.reset();
        m_client = std::make_unique<ChannelClient>(m_names.receive, m_names.send, size);
        return *m_client;
    }
    // Starts the service on the test's own names and joins it as the client.
    bool serve(const QString& tag, int size) {
        m_names = channelNames("flt_" + tag);
        return launch(size) && newClient(size).join(kWaitMs);
    }
    // Sends a frame and reads back what the recording engine made of it.
    bool roundTrip(const QByteArray& frame) {
        return m_client->writeMessage(frame) &&
               m_client->readMessage(kWaitMs) == invertedFrame(frame);
    }

    ChannelNames m_names;
    ServiceProcess m_service;
    std::unique_ptr<ChannelClient> m_client;
};

TEST_F(ChannelServiceTest, ClientFirstGetsProcessedFramesAndSteersTheEffects) {
    // Blanks and letters beyond ASCII drop out of the native names too.
    m_names = channelNames(QString::fromUtf8("flt_first \xc3\xbc"));
    ASSERT_TRUE(newClient(kDefaultSize).openSegments());
    ASSERT_TRUE(m_client->listen());
    ASSERT_TRUE(launch(kDefaultSize));
    EXPECT_EQ(m_client->announcement(kWaitMs), QByteArray("ServerCreated\n"));
    ASSERT_TRUE(m_client->connectCommands(kWaitMs));

    // Of garbage on the pipe only the valid lines reach the engine.
    static const char kGarbage[] = "\x00\xff\xfe[CMD\n[CMD]\n\n\r\n[CMD]99 1\n[CMD]-1 5\n[CMD] 7\n";
    static const char kNulInCommand[] = "[CMD]8 zz|\x00\x01\n";
    const QByteArray garbage = QByteArray(kGarbage, sizeof kGarbage - 1) + QByteArray(70000, 'z') +
                               "\n" + QByteArray(kNulInCommand, sizeof kNulInCommand - 1);
    ASSERT_TRUE(m_client->sendLine(garbage + commandLine("3 -25")));
    ASSERT_TRUE(m_service.engine().waitFor("modify_shape_face_thin -0.25"));
    for (const std::string& call : m_service.engine().lines()) {
        EXPECT_TRUE(call.rfind("initialize ", 0) == 0 || call == "modify_makeup_eyebrow null 0" ||
                    call == "modify_shape_face_thin -0.25")
            << call;
    }

    EXPECT_TRUE(roundTrip(makeFrame(4, 2, 10)));
    // A full 640 x 480 frame: the largest the default size carries, and larger than the first.
    const QByteArray large = makeFrame(640, 480, 77);
    ASSERT_EQ(large.size() + 4 + 88, kDefaultSize);
    EXPECT_TRUE(roundTrip(large));

    // A line written before a frame reaches the engine first, also while the lines before it
    // still keep the service reading when the frame comes.
    for (int round = 1; round <= 50; ++round) {
        const std::string value = std::to_string(round), frame = "process 2 1 " + value;
        ASSERT_TRUE(m_client->sendLine(QByteArray(300000, '\n') +
                                       commandLine(QByteArray("0 ") + value.c_str() + "00")));
        ASSERT_TRUE(m_client->writeMessage(makeFrame(2, 1, round)) &&
                    m_service.engine().waitFor(frame));
        const std::vector<std::string> calls = m_service.engine().lines();
        const auto line = std::find(calls.begin(), calls.end(), "modify_skin_white " + value);
        EXPECT_NE(std::find(line, calls.end(), frame), calls.end()) << frame;
    }
}

// A killed service leaves its socket file and its named objects behind; the next one on the same
// names must not be stopped or confused by them. A client that stalls while it holds the segment
// lock costs the service one message per wake-up; the service says so once per run, with the way
// out, and serves again once the lock is free.
TEST_F(ChannelServiceTest, AServiceStartedAfterAKilledOneServesAndLogsALockHeldTooLongOnce) {
    m_names = channelNames("flt_stall");
    ASSERT_TRUE(launch(4096) && newClient(4096).connectCommands(kWaitMs));
    ASSERT_TRUE(m_service.killNow());
    ASSERT_TRUE(launch(4096) && newClient(4096).join(kWaitMs));
    const QByteArray said = "held the segment lock for more than 50 ms";
    ASSERT_TRUE(m_client->notifyHoldingLock());
    ASSERT_TRUE(processEventsUntil([&] { return m_service.log().contains(said); }, kWaitMs));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(m_client->notifyHoldingLock());
        // Time for another wake-up to time out; a pass does not depend on it.
        QThread::msleep(150);
    }
    m_client->releaseLock();
    EXPECT_TRUE(roundTrip(makeFrame(4, 4, 5)));
    EXPECT_EQ(m_service.log().count(said), 1) << m_service.log().toStdString();
    EXPECT_TRUE(m_service.log().contains("give each client its own channel names"));

    // Its one attempt to connect to the client was at start: a line that names the announcement
    // later does not make it connect (the command after that line arrives after any attempt).
    ASSERT_TRUE(m_client->listen());
    ASSERT_TRUE(
        m_client->sendLine(protocol::kAnnouncement + QByteArray("\n") + commandLine("0 10")));
    ASSERT_TRUE(m_service.engine().waitFor("modify_skin_white 0.1"));
    EXPECT_EQ(m_client->announcement(0), std::nullopt);
}

#ifndef _WIN32
// Whoever may write a segment may shrink it (here: shm_open and ftruncate on its file); the
// service then copies only what is left instead of dying of SIGBUS on the pages past the new end.
TEST_F(ChannelServiceTest, ShrunkSegmentsAreCopiedOnlyAsFarAsTheyReach) {
    // A letter beyond ASCII: the segment keys are UTF-8 on both sides.
    ASSERT_TRUE(serve(QString::fromUtf8("shr\xc3\xbcnk"), kDefaultSize));
    const auto shrink = [](const QString& name) {
        const std::string file =
            "/" + makePlatformSafeKey(segmentKey(name).toStdString(), kSharedMemoryKeyPrefix);
        const int fd = shm_open(file.c_str(), O_RDWR, 0);
        const bool shrunk = fd >= 0 && ftruncate(fd, 4096) == 0;
        if (fd >= 0) close(fd);
        return shrunk;
    };
    // A result that no longer fits is dropped.
    ASSERT_TRUE(shrink(m_names.send));
    ASSERT_TRUE(m_client->writeMessage(makeFrame(40, 40, 1)));
    (void)m_client->readMessage(1000);
    // A length that reaches past the end is not read.
    ASSERT_TRUE(shrink(m_names.receive));
    ASSERT_TRUE(m_client->writeRaw(5000, makeFrame(2, 2, 0)));
    EXPECT_FALSE(m_service.waitForFinished(1000)) << m_service.log().toStdString();
}

// Every named object and the command socket refuse another user while the service goes on
// serving its own client.
TEST_F(ChannelServiceTest, AnotherUserReachesNothingWhileTheServiceServesItsClient) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "becoming another user takes root; run this test as root to check that "
                        "another user can reach no segment, semaphore or socket of a channel";
    }
    ASSERT_TRUE(serve("user", 4096));
    ASSERT_TRUE(roundTrip(makeFrame(4, 4, 1)));
    std::vector<Attempt> attempts;
    for (const QString& name : {m_names.receive, m_names.send}) {
        const std::string key = protocol::segmentKey(name.toStdString());
        const std::string segment = makePlatformSafeKey(key, kSharedMemoryKeyPrefix);
        for (const std::string& file : {segment, segment + ".holders", segment + ".gate"})
            attempts.push_back({"segment file", fileRefused, file});
        attempts.push_back({"segment lock", fileRefused,
                            "sem." + makePlatformSafeKey(key, kSystemSemaphoreKeyPrefix)});
        attempts.push_back(
            {"notification", fileRefused,
             "sem." + protocol::notificationNativeName(protocol::notificationKey(key))});
    }
    const std::string socket =
        protocol::socketPath(protocol::pipeName(m_names.receive.toStdString())).path;
    attempts.push_back({"command socket", socketRefused, socket});
    attempts.push_back({"command socket past its mode", peerRefused, socket});

    // The owner reaches every object, so a refusal below is not a missing name (the sockets last).
    for (std::size_t i = 0; i + 2 < attempts.size(); ++i)
        ASSERT_FALSE(attempts[i].refused(attempts[i].target)) << attempts[i].target;
    EXPECT_EQ(strangerGotThrough(attempts), "");

    EXPECT_TRUE(roundTrip(makeFrame(4, 4, 9)));
}
#endif

}  // namespace
