// The channel inside this process, with a client of the protocol on the other side of its
// segments and pipe.

#include "duplex_ipc.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtEndian>
#include <climits>
#include <mutex>

#include "ai_ipc_callback_handle.h"
#include "channel_client.h"
#include "duplex_ipc_shared_memory_thread.h"
#include "test_application.h"

namespace {

constexpr int kWaitMs = 5000;

// Every delivery, in order, as "data:", "command:", "message:" or "event:" plus its content.
class RecordingCallback : public AiIpcCallbackHandle {
public:
    void onMessage(const char* text) override { add("message:" + QByteArray(text)); }
    void onData(const char* data, int length) override { add("data:" + QByteArray(data, length)); }
    void onCommand(const char* data, int length) override {
        add("command:" + QByteArray(data, length));
    }
    void onEvent(int code, const char* data, int length) override {
        add("event:" + QByteArray::number(code) + " " + QByteArray(data, length));
    }
    QList<QByteArray> all() const {
        std::lock_guard<std::mutex> locker(m_mutex);
        return m_deliveries;
    }
    int count(const QByteArray& delivery) const { return all().count(delivery); }
    bool waitFor(const QByteArray& delivery) const {
        return processEventsUntil([&] { return count(delivery) > 0; }, kWaitMs);
    }

private:
    void add(const QByteArray& delivery) {
        std::lock_guard<std::mutex> locker(m_mutex);
        m_deliveries.append(delivery);
    }
    mutable std::mutex m_mutex;
    QList<QByteArray> m_deliveries;
};

struct Names {
    QString receive;
    QString send;
};

Names namesFor(const QString& tag) {
    const Names names{"flt_ipc_" + tag + "_in", "flt_ipc_" + tag + "_out"};
    QLocalServer::removeServer(names.receive + "_pipe");
    QLocalServer::removeServer(names.send + "_pipe");
    return names;
}

QByteArray prefixed(const QByteArray& payload) {
    QByteArray message(4, Qt::Uninitialized);
    qToLittleEndian<qint32>(payload.size(), message.data());
    return message + payload;
}

class DuplexIPCTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
    // Transports hand their segments to the event loop for deletion.
    void TearDown() override {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST_F(DuplexIPCTest, EnvelopeCarriesCommandsOfAtLeastOneByte) {
    EXPECT_EQ(DuplexIPC::commandOf("[CMD]0 50"), "0 50");
    EXPECT_EQ(DuplexIPC::commandOf("[CMD]x"), "x");
    EXPECT_EQ(DuplexIPC::commandOf(QByteArray("[CMD]\0z", 7)), QByteArray("\0z", 2));
    EXPECT_EQ(DuplexIPC::commandOf("[CMD]0 50\r"), "0 50\r");
    EXPECT_TRUE(DuplexIPC::commandOf("[CMD]").isEmpty());
    EXPECT_TRUE(DuplexIPC::commandOf("[cmd]0 50").isEmpty());
    EXPECT_TRUE(DuplexIPC::commandOf(" [CMD]0 50").isEmpty());
    EXPECT_TRUE(DuplexIPC::commandOf("").isEmpty());
}

TEST_F(DuplexIPCTest, LengthPrefixMustStayWithinTheUsableBytes) {
    QByteArray message = prefixed("abcdef") + "zz";
    int length = -7;
    EXPECT_EQ(DuplexIPC::messagePayload(message.constData(), message.size(), &length),
              message.constData() + 4);
    EXPECT_EQ(length, 6);
    // At the limit, one byte over, negative, and a snapshot too short for a prefix.
    qToLittleEndian<qint32>(message.size() - 4, message.data());
    EXPECT_NE(DuplexIPC::messagePayload(message.constData(), message.size(), &length), nullptr);
    qToLittleEndian<qint32>(message.size() - 3, message.data());
    EXPECT_EQ(DuplexIPC::messagePayload(message.constData(), message.size(), &length), nullptr);
    EXPECT_EQ(length, message.size() - 3);
    qToLittleEndian<qint32>(INT_MIN, message.data());
    EXPECT_EQ(DuplexIPC::messagePayload(message.constData(), message.size(), &length), nullptr);
    EXPECT_EQ(DuplexIPC::messagePayload(message.constData(), 3, &length), nullptr);
    qToLittleEndian<qint32>(0, message.data());
    EXPECT_NE(DuplexIPC::messagePayload(message.constData(), 4, &length), nullptr);
    EXPECT_EQ(length, 0);
}

TEST_F(DuplexIPCTest, SendPrefixesTheLengthAndRefusesWhatDoesNotFit) {
    const Names names = namesFor("send");
    RecordingCallback callback;
    DuplexIPC ipc(names.receive, names.send, 64, 64);
    ipc.setCallback(&callback);
    EXPECT_FALSE(ipc.send("x", 1));
    EXPECT_EQ(callback.all(), QList<QByteArray>{"message:m_sendSharedMemoryisNull"});

    (void)ipc.start();
    EXPECT_FALSE(ipc.start());
    EXPECT_EQ(callback.count("event:1001 createListener success"), 1);
    ChannelClient client(names.receive, names.send, 64);
    ASSERT_TRUE(client.openSegments());

    const QByteArray atLimit(60, 'q');
    EXPECT_TRUE(ipc.send(atLimit.constData(), atLimit.size()));
    EXPECT_EQ(client.readMessage(kWaitMs), atLimit);
    EXPECT_EQ(callback.all().last(), "message:sendDataSize:60");

    const QByteArray over(61, 'o');
    EXPECT_FALSE(ipc.send(over.constData(), over.size()));
    EXPECT_EQ(callback.all().last(), "message:sendDataSize:61");
    EXPECT_FALSE(ipc.send(over.constData(), -1));
    EXPECT_TRUE(client.staysQuiet(200));
}

TEST_F(DuplexIPCTest, ReceivedMessagesReachOnDataAndBadLengthsAreReportedOncePerRun) {
    const Names names = namesFor("receive");
    RecordingCallback callback;
    DuplexIPC ipc(names.receive, names.send, 64, 64);
    ipc.setCallback(&callback);
    (void)ipc.start();
    ChannelClient client(names.receive, names.send, 64);
    ASSERT_TRUE(client.openSegments());

    ASSERT_TRUE(client.writeRaw(-1, QByteArray()));
    ASSERT_TRUE(callback.waitFor("message:invalid message length:-1"));
    ASSERT_TRUE(client.writeRaw(61, QByteArray(61, 'x')));
    processEventsUntil([] { return false; }, 300);
    ASSERT_TRUE(client.writeMessage("frame one"));
    ASSERT_TRUE(callback.waitFor("data:frame one"));
    ASSERT_TRUE(client.writeRaw(61, QByteArray(61, 'x')));
    ASSERT_TRUE(callback.waitFor("message:invalid message length:61"));

    EXPECT_EQ(callback.count("message:invalid message length:-1"), 1);
    EXPECT_EQ(callback.count("message:invalid message length:61"), 1);
    // At the limit the whole segment after the prefix is payload.
    ASSERT_TRUE(client.writeMessage(QByteArray(60, 'L')));
    EXPECT_TRUE(callback.waitFor("data:" + QByteArray(60, 'L')));
}

TEST_F(DuplexIPCTest, PipeLinesReachOnCommandThenOnMessage) {
    const Names names = namesFor("pipe");
    RecordingCallback callback;
    DuplexIPC ipc(names.receive, names.send, 64, 64);
    ipc.setCallback(&callback);
    (void)ipc.start();
    QLocalSocket peer;
    peer.connectToServer(names.receive + "_pipe");
    ASSERT_TRUE(peer.waitForConnected(kWaitMs));
    const char lines[] = "[CMD]0 50\n[CMD]\nab\0cd\n";
    peer.write(lines, sizeof lines - 1);
    ASSERT_TRUE(peer.waitForBytesWritten(kWaitMs));
    ASSERT_TRUE(processEventsUntil(
        [&] { return callback.count("message:ab") == 1 && callback.all().last() == "message:"; },
        kWaitMs));

    const QList<QByteArray> all = callback.all();
    EXPECT_EQ(all.mid(all.indexOf("command:0 50")),
              (QList<QByteArray>{"command:0 50", "message:[CMD]0 50", "message:[CMD]", "message:ab",
                                 "message:"}));
}

// The transport itself: sizes, coalescing and a segment smaller than asked for.
TEST_F(DuplexIPCTest, SenderKeepsOnlyTheNewestPendingMessage) {
    const Names names = namesFor("coalesce");
    ChannelClient client(names.receive, names.send, 64);
    ASSERT_TRUE(client.openSegments());
    DuplexIPCSharedMemoryThread sender(names.send + "_sharedMemory", 64, false);
    ASSERT_TRUE(sender.init());
    EXPECT_EQ(sender.capacity(), 64);

    for (const QByteArray& payload :
         {QByteArray("first"), QByteArray("second"), QByteArray("third")})
        ASSERT_TRUE(sender.sendData(prefixed(payload).constData(), payload.size() + 4));
    EXPECT_TRUE(sender.sendData(prefixed(QByteArray(60, 'f')).constData(), 64));
    EXPECT_FALSE(sender.sendData(prefixed(QByteArray(61, 'f')).constData(), 65));
    sender.start();
    EXPECT_EQ(client.readMessage(kWaitMs), QByteArray(60, 'f'));
    EXPECT_TRUE(client.staysQuiet(300));
}

TEST_F(DuplexIPCTest, SmallerExistingSegmentIsUsedUpToItsOwnSize) {
    const Names names = namesFor("smaller");
    ChannelClient client(names.receive, names.send, 100);
    ASSERT_TRUE(client.openSegments());
    DuplexIPCSharedMemoryThread sender(names.send + "_sharedMemory", 100000, false);
    ASSERT_TRUE(sender.init());
    const int mapped = sender.capacity();
    EXPECT_GE(mapped, 100);
    EXPECT_LT(mapped, 100000);
    sender.start();
    const QByteArray fits(mapped - 4, 's');
    EXPECT_TRUE(sender.sendData(prefixed(fits).constData(), mapped));
    EXPECT_EQ(client.readMessage(kWaitMs), fits);
    EXPECT_FALSE(sender.sendData(QByteArray(mapped + 1, 'x').constData(), mapped + 1));
}

TEST_F(DuplexIPCTest, UnusableSizesAreRefusedAndNeverTouchASegment) {
    static QStringList critical;
    critical.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg) critical.append(text);
        });
    for (const int size : {0, -1, INT_MAX}) {
        DuplexIPCSharedMemoryThread transport("flt_ipc_refused_sharedMemory", size, true);
        EXPECT_FALSE(transport.init());
        EXPECT_EQ(transport.capacity(), 0);
        EXPECT_FALSE(transport.sendData("abcd", 4));
        transport.start();
        EXPECT_EQ(transport.receivedData().size(), 0);
    }
    qInstallMessageHandler(previous);
    ASSERT_GE(critical.size(), 3);
    EXPECT_TRUE(critical[0].contains("size:0 refused")) << critical[0].toStdString();
    EXPECT_TRUE(critical.last().contains(QString("size:%1 refused").arg(INT_MAX)));
}

}  // namespace
