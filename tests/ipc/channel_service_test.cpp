// The running service end to end: the facelume executable with the recording engine as a child
// process, and a client in this process that follows docs/protocol.md.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QtEndian>

#include "channel_client.h"
#include "platform_safe_key.h"
#include "service_process.h"
#include "test_application.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr int kQuietMs = 500;
constexpr int kDefaultSize = 921700;

// Each test has its own channel names.
ChannelNames namesFor(const QString& tag) { return channelNames("flt_" + tag); }

QStringList arguments(const ChannelNames& names, const QString& size) {
    return {names.receive, names.send, size};
}

// Sends a frame and reads back what the recording engine made of it.
bool roundTrip(ChannelClient& client, const QByteArray& frame) {
    return client.writeMessage(frame) && client.readMessage(kWaitMs) == invertedFrame(frame);
}

int processCalls(const ServiceProcess& service) {
    return service.engineCalls().filter(QRegularExpression("^process ")).size();
}

class ChannelServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
};

TEST_F(ChannelServiceTest, ClientFirstGetsProcessedFramesAndSteersTheEffects) {
    // Blanks and letters beyond ASCII drop out of the native names too.
    const ChannelNames names = namesFor(QString::fromUtf8("first \xc3\xbc"));
    ChannelClient client(names.receive, names.send, kDefaultSize);
    ASSERT_TRUE(client.openSegments());
    ASSERT_TRUE(client.listen());
    ServiceProcess service;
    ASSERT_TRUE(service.launch(arguments(names, QString::number(kDefaultSize))));

    EXPECT_EQ(client.announcement(kWaitMs), QByteArray("ServerCreated\n"));
    ASSERT_TRUE(client.connectCommands(kWaitMs));

    EXPECT_TRUE(roundTrip(client, makeFrame(4, 2, 10)));

    // A full 640 x 480 frame: the largest the default size carries, and larger than the first.
    const QByteArray large = makeFrame(640, 480, 77);
    ASSERT_EQ(large.size() + 4 + 88, kDefaultSize);
    EXPECT_TRUE(roundTrip(client, large));

    // A command alone makes the service process the newest frame again.
    const int before = service.engineCalls().size();
    ASSERT_TRUE(client.sendLine(commandLine("0 50")));
    EXPECT_TRUE(service.waitForEngineCall("modify_skin_white 0.5", before));
    EXPECT_EQ(client.readMessage(kWaitMs), invertedFrame(large));

    ASSERT_TRUE(client.sendLine(commandLine("4 616263|80") + commandLine("5 ")));
    EXPECT_TRUE(service.waitForEngineCall("modify_filter \"abc\" 0.8", before));
    EXPECT_TRUE(service.waitForEngineCall("modify_sticker null", before));
}

// The service started first finds no client listening, serves all the same, and serves a new
// client that takes the place of one that left.
TEST_F(ChannelServiceTest, ServiceFirstServesEachClientThatJoins) {
    const ChannelNames names = namesFor("svcfirst");
    ServiceProcess service;
    ASSERT_TRUE(service.launch(arguments(names, "4096")));
    {
        ChannelClient first(names.receive, names.send, 4096);
        // The service listens only after its segments are set up.
        ASSERT_TRUE(first.join(kWaitMs));
        EXPECT_TRUE(roundTrip(first, makeFrame(16, 16, 3)));
        // Its one attempt to reach us failed; a later announcement does not make it try again.
        ASSERT_TRUE(first.listen());
        ASSERT_TRUE(first.sendLine("ServerCreated\n"));
        EXPECT_EQ(first.announcement(1500), QByteArray());
    }
    ChannelClient second(names.receive, names.send, 4096);
    ASSERT_TRUE(second.join(kWaitMs));
    EXPECT_TRUE(roundTrip(second, makeFrame(16, 16, 200)));
    ASSERT_TRUE(second.sendLine(commandLine("2 40|x|y")));
    EXPECT_TRUE(service.waitForEngineCall("modify_shape_eye_scale 0.4"));
}

// A killed service leaves its socket file and its named objects behind; the next one on the
// same names must not be stopped or confused by them.
TEST_F(ChannelServiceTest, ServiceKilledAndStartedAgainServesTheSameNames) {
    const ChannelNames names = namesFor("restart");
    {
        ServiceProcess killed;
        ASSERT_TRUE(killed.launch(arguments(names, "4096")));
        ChannelClient client(names.receive, names.send, 4096);
        ASSERT_TRUE(client.connectCommands(kWaitMs));
        ASSERT_TRUE(killed.killNow());
    }
    ServiceProcess service;
    ASSERT_TRUE(service.launch(arguments(names, "4096")));
    ChannelClient client(names.receive, names.send, 4096);
    ASSERT_TRUE(client.join(kWaitMs));
    EXPECT_TRUE(roundTrip(client, makeFrame(4, 4, 90)));
}

TEST_F(ChannelServiceTest, FramesFasterThanTheServiceReadsEndWithTheNewest) {
    const ChannelNames names = namesFor("burst");
    ServiceProcess service;
    ASSERT_TRUE(service.launch(arguments(names, "65536")));
    ChannelClient client(names.receive, names.send, 65536);
    ASSERT_TRUE(client.join(kWaitMs));

    for (const unsigned char first : {1, 2, 3})
        ASSERT_TRUE(client.writeMessage(makeFrame(64, 64, first)));
    // Older frames may come back first, but nothing older follows the newest.
    const QByteArray newest = invertedFrame(makeFrame(64, 64, 3));
    QList<QByteArray> results;
    while (auto result = client.readMessage(results.contains(newest) ? kQuietMs : kWaitMs))
        results.append(*result);
    EXPECT_LE(results.size(), 3);
    EXPECT_EQ(results.value(results.size() - 1), newest);
}

TEST_F(ChannelServiceTest, LengthsAndHeadersThatDoNotFitAreDropped) {
    const ChannelNames names = namesFor("limits");
    // Exactly one 10 x 10 frame with its length prefix.
    const int size = 4 + 8 + 10 * 10 * 3;
    ServiceProcess service;
    ASSERT_TRUE(service.launch(arguments(names, QString::number(size))));
    ChannelClient client(names.receive, names.send, size);
    ASSERT_TRUE(client.join(kWaitMs));

    const QByteArray atLimit = makeFrame(10, 10, 5);
    ASSERT_EQ(atLimit.size(), size - 4);
    EXPECT_TRUE(roundTrip(client, atLimit));
    const int processed = processCalls(service);

    ASSERT_TRUE(client.writeRaw(size - 3, makeFrame(10, 10, 6) + "x"));
    EXPECT_TRUE(client.staysQuiet(kQuietMs));
    ASSERT_TRUE(client.writeRaw(-1, QByteArray()));
    EXPECT_TRUE(client.staysQuiet(kQuietMs));
    EXPECT_EQ(processCalls(service), processed);

    // A header that promises more pixels than the frame holds gives no result. The 3 bytes after
    // it patch the start of the service's frame slot: when the service reads the segment only
    // after both writes, the slot still holds the first frame under the same header, which is
    // processed again. Nothing else comes before the next good frame's result.
    QByteArray tooTall = makeFrame(10, 10, 7);
    qToLittleEndian<qint32>(1000, tooTall.data() + 4);
    ASSERT_TRUE(client.writeMessage(tooTall));
    ASSERT_TRUE(client.writeMessage(QByteArray("\x0a\x00\x00", 3)));
    const QByteArray after = makeFrame(10, 10, 8);
    ASSERT_TRUE(client.writeMessage(after));
    std::optional<QByteArray> result;
    while ((result = client.readMessage(kWaitMs)) && *result != invertedFrame(after))
        EXPECT_EQ(*result, invertedFrame(atLimit));
    EXPECT_EQ(result, invertedFrame(after));
    EXPECT_EQ(service.state(), QProcess::Running);
}

TEST_F(ChannelServiceTest, GarbageOnThePipeChangesNothingElse) {
    const ChannelNames names = namesFor("garbage");
    ServiceProcess service;
    ASSERT_TRUE(service.launch(arguments(names, "4096")));
    ChannelClient client(names.receive, names.send, 4096);
    ASSERT_TRUE(client.join(kWaitMs));

    static const char kGarbage[] = "\x00\xff\xfe[CMD\n[CMD]\n\n\r\n[CMD]99 1\n[CMD]-1 5\n[CMD] 7\n";
    static const char kNulInCommand[] = "[CMD]8 zz|\x00\x01\n";
    const QByteArray garbage = QByteArray(kGarbage, sizeof kGarbage - 1) + QByteArray(70000, 'z') +
                               "\n" + QByteArray(kNulInCommand, sizeof kNulInCommand - 1);
    ASSERT_TRUE(client.sendLine(garbage));
    ASSERT_TRUE(client.sendLine(commandLine("3 -25")));
    ASSERT_TRUE(service.waitForEngineCall("modify_shape_face_thin -0.25"));
    for (const QString& call : service.engineCalls()) {
        EXPECT_TRUE(call.startsWith("initialize ") || call == "modify_makeup_eyebrow null 0" ||
                    call == "modify_shape_face_thin -0.25")
            << call.toStdString();
    }

    EXPECT_TRUE(roundTrip(client, makeFrame(5, 5, 9)));
}

TEST_F(ChannelServiceTest, UnusableSizesAreRefusedWhileThePipeWorks) {
    for (const QString& size : {QString("0"), QString("abc"), QString("-5"), QString("134217729"),
                                QString("2147483647")}) {
        SCOPED_TRACE(size.toStdString());
        const ChannelNames names = namesFor("size");
        ServiceProcess service;
        ASSERT_TRUE(service.launch(arguments(names, size)));
        ChannelClient client(names.receive, names.send, 4096);
        ASSERT_TRUE(client.connectCommands(kWaitMs));
        ASSERT_TRUE(client.sendLine(commandLine("0 30")));
        EXPECT_TRUE(service.waitForEngineCall("modify_skin_white 0.3"));
        const QByteArray log = service.log();
        EXPECT_EQ(log.count("[M_DuplexIPC] DuplexIPCSharedMemoryThread::init \"name:flt_size-"), 2);
        EXPECT_EQ(log.count(" refused: "), 2) << log.toStdString();
        EXPECT_FALSE(log.contains("memory err")) << "a refused size goes no further";
        if (size.toInt() > 0) {
            EXPECT_EQ(log.count("at most 134217728 bytes"), 2);
        }
        EXPECT_EQ(service.state(), QProcess::Running);
    }
}

}  // namespace
