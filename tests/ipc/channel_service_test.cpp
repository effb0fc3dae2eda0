// The running service end to end: the facelume executable with the recording engine as a child
// process, and a client in this process that follows docs/protocol.md.

#include <gtest/gtest.h>

#include <QThread>
#include <memory>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform_safe_key.h"
#endif

#include "channel_client.h"
#include "service_process.h"
#include "test_application.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr int kDefaultSize = 921700;

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

    // A command alone makes the service process the newest frame again.
    const std::size_t before = m_service.engine().lines().size();
    ASSERT_TRUE(m_client->sendLine(commandLine("0 50")));
    EXPECT_TRUE(m_service.engine().waitFor("modify_skin_white 0.5", before));
    EXPECT_EQ(m_client->readMessage(kWaitMs), invertedFrame(large));
}

// The service started first finds no client listening, serves all the same, and serves a new
// client that takes the place of one that left. A frame may fill the segment to its last byte.
TEST_F(ChannelServiceTest, ServiceFirstServesEachClientThatJoins) {
    const int size = 4 + 8 + 16 * 16 * 3;
    // The service listens only after its segments are set up.
    ASSERT_TRUE(serve("svcfirst", size));
    EXPECT_TRUE(roundTrip(makeFrame(16, 16, 3)));
    // Its one attempt to reach us failed; a later announcement does not make it try again.
    ASSERT_TRUE(m_client->listen());
    ASSERT_TRUE(m_client->sendLine("ServerCreated\n"));
    EXPECT_EQ(m_client->announcement(1500), QByteArray());

    ASSERT_TRUE(newClient(size).join(kWaitMs));
    EXPECT_TRUE(roundTrip(makeFrame(16, 16, 200)));
}

// A killed service leaves its socket file and its named objects behind; the next one on the
// same names must not be stopped or confused by them.
TEST_F(ChannelServiceTest, ServiceKilledAndStartedAgainServesTheSameNames) {
    m_names = channelNames("flt_restart");
    ASSERT_TRUE(launch(4096));
    ASSERT_TRUE(newClient(4096).connectCommands(kWaitMs));
    ASSERT_TRUE(m_service.killNow());
    ASSERT_TRUE(launch(4096));
    ASSERT_TRUE(newClient(4096).join(kWaitMs));
    EXPECT_TRUE(roundTrip(makeFrame(4, 4, 90)));
}

TEST_F(ChannelServiceTest, FramesFasterThanTheServiceReadsEndWithTheNewest) {
    ASSERT_TRUE(serve("burst", 65536));
    for (const unsigned char first : {1, 2, 3})
        ASSERT_TRUE(m_client->writeMessage(makeFrame(64, 64, first)));
    // Older frames may come back first, but nothing older follows the newest.
    const QByteArray newest = invertedFrame(makeFrame(64, 64, 3));
    QList<QByteArray> results;
    while (auto result = m_client->readMessage(results.contains(newest) ? 500 : kWaitMs))
        results.append(*result);
    EXPECT_LE(results.size(), 3);
    EXPECT_EQ(results.value(results.size() - 1), newest);
}

// A client that stalls while it holds the segment lock costs the service one message per wake-up;
// the service says so once per run, with the way out, and serves again once the lock is free.
TEST_F(ChannelServiceTest, ALockHeldTooLongIsLoggedOncePerRun) {
    ASSERT_TRUE(serve("stall", 4096));
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
#endif

}  // namespace
