// The channel inside this process, with a client of the protocol on the other side of its
// segments and pipe, and peers of its pipe.

#include "duplex_ipc.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "ai_ipc_callback_handle.h"
#include "channel_client.h"
#include "duplex_ipc_shared_memory_thread.h"
#include "duplex_local_pipe.h"
#include "protocol.h"
#include "test_application.h"

namespace {

constexpr int kWaitMs = 5000;

// Every delivery, in order, as "data:", "command:", "message:" or "event:" plus its content.
class RecordingCallback : public AiIpcCallbackHandle {
public:
    void onMessage(const char* text) override { add("message:" + QByteArray(text)); }
    void onData(const char* data, int length) override { add("data:" + QByteArray(data, length)); }
    void onCommand(const char* data, int length) override {
        if (ipc != nullptr) pendingWhileDelivered = ipc->controlInputPending();
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
    // When set, whether it had control input pending while it delivered the last command.
    const DuplexIPC* ipc = nullptr;
    bool pendingWhileDelivered = false;

private:
    void add(const QByteArray& delivery) {
        std::lock_guard<std::mutex> locker(m_mutex);
        m_deliveries.append(delivery);
    }
    mutable std::mutex m_mutex;
    QList<QByteArray> m_deliveries;
};

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

// A channel (of 64-byte segments unless told) reporting to a recording callback, and its client.
struct Channel {
    explicit Channel(const char* tag, int size = 64)
        : names(channelNames(QString("flt_ipc_") + tag)),
          ipc(names.receive, names.send, size, size),
          client(names.receive, names.send, size) {
        ipc.setCallback(&callback);
    }
    ChannelNames names;
    RecordingCallback callback;
    DuplexIPC ipc;
    ChannelClient client;
};

// Messages of up to the segment's size go both ways, a bad length is reported once per run of
// them, and pipe lines reach onCommand.
TEST_F(DuplexIPCTest, MessagesFitTheSegmentBadLengthsAreReportedOncePerRunAndLinesAreCommands) {
    Channel channel("messages");
    RecordingCallback& callback = channel.callback;
    EXPECT_FALSE(channel.ipc.send("x", 1)) << "before start";
    (void)channel.ipc.start();
    EXPECT_FALSE(channel.ipc.start());
    EXPECT_EQ(callback.count("event:1001 createListener success"), 1);
    ASSERT_TRUE(channel.client.openSegments());

    const QByteArray atLimit(60, 'q');
    EXPECT_TRUE(channel.ipc.send(atLimit.constData(), atLimit.size()));
    EXPECT_EQ(channel.client.readMessage(kWaitMs), atLimit);
    const QByteArray over(61, 'o');
    EXPECT_FALSE(channel.ipc.send(over.constData(), over.size()));
    EXPECT_FALSE(channel.ipc.send(over.constData(), -1));
    EXPECT_EQ(channel.client.readMessage(200), std::nullopt);

    ASSERT_TRUE(channel.client.writeRaw(-1, QByteArray()));
    ASSERT_TRUE(callback.waitFor("message:invalid message length:-1"));
    ASSERT_TRUE(channel.client.writeRaw(61, QByteArray(61, 'x')));
    processEventsUntil([] { return false; }, 300);
    ASSERT_TRUE(channel.client.writeMessage("frame one"));
    ASSERT_TRUE(callback.waitFor("data:frame one"));
    ASSERT_TRUE(channel.client.writeRaw(61, QByteArray(61, 'x')));
    ASSERT_TRUE(callback.waitFor("message:invalid message length:61"));
    EXPECT_EQ(callback.count("message:invalid message length:-1"), 1);
    EXPECT_EQ(callback.count("message:invalid message length:61"), 1);
    // At the limit the whole segment after the prefix is payload.
    ASSERT_TRUE(channel.client.writeMessage(QByteArray(60, 'L')));
    EXPECT_TRUE(callback.waitFor("data:" + QByteArray(60, 'L')));

    ASSERT_TRUE(channel.client.connectCommands(kWaitMs));
    const char lines[] = "[CMD]0 50\n[CMD]\nab\0cd\n";
    ASSERT_TRUE(channel.client.sendLine(QByteArray(lines, sizeof lines - 1)));
    ASSERT_TRUE(processEventsUntil(
        [&] { return callback.count("message:ab") == 1 && callback.all().last() == "message:"; },
        kWaitMs));
    const QList<QByteArray> all = callback.all();
    EXPECT_EQ(all.mid(all.indexOf("command:0 50")),
              (QList<QByteArray>{"command:0 50", "message:[CMD]0 50", "message:[CMD]", "message:ab",
                                 "message:"}));

    // A socket file that a live process serves is never taken over (the client tests show that
    // one left by a dead process is replaced).
    EXPECT_FALSE(DuplexIPC(channel.names.receive, channel.names.send, 64, 64).start());
}

// Control lines count as pending from their write until the main thread has delivered them and
// waits again: a frame may skip the main thread only then.
TEST_F(DuplexIPCTest, ControlLinesArePendingUntilTheirDeliveryIsOver) {
#ifdef _WIN32
    GTEST_SKIP() << "Qt's pipe reader reads ahead: control input always counts as pending";
#endif
    Channel channel("pending");
    RecordingCallback& probe = channel.callback;
    probe.ipc = &channel.ipc;
    (void)channel.ipc.start();
    const auto untilIdle = [] {
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    };
    QLocalSocket peer;
    peer.connectToServer(socketName(pipeName(channel.names.receive)));
    ASSERT_TRUE(peer.waitForConnected(kWaitMs));
    ASSERT_TRUE(probe.waitFor("message:new connection get"));
    untilIdle();
    EXPECT_FALSE(channel.ipc.controlInputPending());

    peer.write("[CMD]0 50\n");
    ASSERT_TRUE(peer.waitForBytesWritten(kWaitMs));
    EXPECT_TRUE(channel.ipc.controlInputPending()) << "unread";
    untilIdle();
    EXPECT_EQ(probe.count("command:0 50"), 1);
    EXPECT_TRUE(probe.pendingWhileDelivered);
    EXPECT_FALSE(channel.ipc.controlInputPending());

    // A connection still in the listener's queue counts too. Reading control input takes it and
    // its lines; the listener's own event in the same pass then finds the queue empty, and the
    // listener must go on listening.
    QLocalSocket queued;
    queued.connectToServer(peer.serverName(), QIODevice::WriteOnly);
    ASSERT_TRUE(queued.waitForConnected(kWaitMs));
    queued.write("[CMD]0 70\n");
    ASSERT_TRUE(queued.waitForBytesWritten(kWaitMs));
    EXPECT_TRUE(channel.ipc.controlInputPending()) << "not taken";
    QMetaObject::invokeMethod(
        &channel.ipc, [&channel] { channel.ipc.readControlInput(); }, Qt::QueuedConnection);
    // Should that event block in accept, a late connection frees it and the test fails.
    std::promise<void> passed;
    std::atomic<bool> freed{false};
    std::thread rescue([&freed, name = peer.serverName(), over = passed.get_future()] {
        if (over.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready) return;
        QLocalSocket late;
        late.connectToServer(name);
        freed = late.waitForConnected(kWaitMs);
    });
    QCoreApplication::processEvents();
    passed.set_value();
    rescue.join();
    EXPECT_FALSE(freed) << "the listener's event blocked in accept";
    EXPECT_EQ(probe.count("command:0 70"), 1);
    EXPECT_TRUE(channel.ipc.findChild<QLocalServer*>()->isListening());
}

// A size the transports cannot use leaves the channel without segments; its pipe still works.
TEST_F(DuplexIPCTest, UnusableSizesLeaveOnlyThePipe) {
    Channel channel("size", 0);
    const QString key = segmentKey(channel.names.send);
    // A sender, which would allocate a buffer of that size too.
    for (const int size : {0, -5, DuplexIPCSharedMemoryThread::kMaxSize + 1, INT_MAX})
        EXPECT_FALSE(DuplexIPCSharedMemoryThread(key, size, false).init()) << size;
    (void)channel.ipc.start();
    EXPECT_FALSE(channel.ipc.send("x", 1));
    ASSERT_TRUE(channel.client.connectCommands(kWaitMs));
    ASSERT_TRUE(channel.client.sendLine(commandLine("0 30")));
    EXPECT_TRUE(channel.callback.waitFor("command:0 30"));
}

// Notifications that came before a receiver woke ask for one read, and that read sees the newest
// message in the segment, under the segment lock. A second receiver on the same names (a second
// service, or a client that opened them twice) waits on the same notification semaphore. Stopping
// one receiver neither waits for a wake-up the other may take nor makes the other read; the other
// goes on serving, and stops too.
TEST_F(DuplexIPCTest, ReceiversReadABurstOnceAndOneOfTwoOnOneNameStopsAlone) {
    const ChannelNames names = channelNames("flt_ipc_receivers");
    ChannelClient client(names.receive, names.send, 64);
    ASSERT_TRUE(client.openSegments());
    const QString key = segmentKey(names.receive);
    NotificationSemaphore notifications(notificationOf(key));
    std::unique_ptr<DuplexIPCSharedMemoryThread> receivers[2];
    for (auto& receiver : receivers) {
        receiver = std::make_unique<DuplexIPCSharedMemoryThread>(key, 64, true);
        ASSERT_TRUE(receiver->init());
    }
    DuplexIPCSharedMemoryThread& other = *receivers[1];
    ASSERT_TRUE(client.writeMessage("newest"));
    ASSERT_TRUE(notifications.release(999));
    std::promise<std::pair<QByteArray, int>> firstRead;
    std::atomic<int> reads{0};
    QObject::connect(
        &other, &DuplexIPCSharedMemoryThread::getDataFormMemory, &other,
        [&] {
            // Units still waiting now would each make the receiver read the segment again.
            if (++reads == 1)
                firstRead.set_value({other.receivedData().mid(4, 6), notifications.takeAll()});
        },
        Qt::DirectConnection);
    other.start();
    std::future<std::pair<QByteArray, int>> read = firstRead.get_future();
    ASSERT_EQ(read.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    EXPECT_EQ(read.get(), std::make_pair(QByteArray("newest"), 0));

    // The one that waits first is woken first: the other one's wake-up would go to it.
    QThread::msleep(100);
    receivers[0]->start();
    QThread::msleep(100);
    // A stop that hangs is freed by units the test gives, so that it fails instead of hanging.
    const auto stopsInTime = [&notifications](DuplexIPCSharedMemoryThread& receiver) {
        std::future<void> stopped = std::async(std::launch::async, [&] { receiver.stop(); });
        const bool inTime =
            stopped.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;
        while (stopped.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            (void)notifications.release(1);
        return inTime;
    };
    EXPECT_TRUE(stopsInTime(*receivers[0]));
    EXPECT_EQ(reads, 1) << "a stop woke the other receiver";
    ASSERT_TRUE(client.writeMessage("after"));
    EXPECT_TRUE(processEventsUntil([&] { return reads == 2; }, kWaitMs));
    EXPECT_TRUE(stopsInTime(other));
    EXPECT_EQ(notifications.takeAll(), 0) << "a stop left a wake-up for the next receiver";
}

// While the client holds the segment lock the sender keeps only the newest message, and writes
// it once with one notification when the lock comes free; it maps an existing segment that is
// smaller than asked for only up to that segment's own size.
TEST_F(DuplexIPCTest, SenderKeepsTheNewestMessageWithinASmallerExistingSegment) {
    const ChannelNames names = channelNames("flt_ipc_transport");
    ChannelClient client(names.receive, names.send, 100);
    ASSERT_TRUE(client.openSegments());
    DuplexIPCSharedMemoryThread sender(segmentKey(names.send), 100000, false);
    ASSERT_TRUE(sender.init());
    const int mapped = sender.capacity();
    EXPECT_GE(mapped, 100);
    EXPECT_LT(mapped, 100000);

    SharedMemory clientLock;
    clientLock.setKey(segmentKey(names.send));
    ASSERT_TRUE(clientLock.attach(SharedMemory::ReadWrite));
    ASSERT_TRUE(clientLock.tryLock(1000));
    for (const QByteArray& payload : {QByteArray("first"), QByteArray("second")})
        ASSERT_TRUE(sender.sendData(prefixed(payload).constData(), payload.size() + 4));
    const QByteArray fits(mapped - 4, 's');
    EXPECT_TRUE(sender.sendData(prefixed(fits).constData(), mapped));
    EXPECT_FALSE(sender.sendData(QByteArray(mapped + 1, 'x').constData(), mapped + 1));
    EXPECT_EQ(client.readMessage(100), std::nullopt);
    ASSERT_TRUE(clientLock.unlock());
    sender.start();
    EXPECT_EQ(client.readMessage(kWaitMs), fits);
    EXPECT_EQ(client.readMessage(300), std::nullopt);
}

TEST_F(DuplexIPCTest, PipeWaitingForThePeerConnectsOnItsAnnouncement) {
    Channel channel("wait");
    QLocalServer peerListener;
    ASSERT_TRUE(peerListener.listen(socketName(pipeName(channel.names.send))));
    channel.ipc.setPipeWaitForPeer(true);
    EXPECT_TRUE(channel.ipc.start());
    EXPECT_FALSE(peerListener.waitForNewConnection(200));

    ASSERT_TRUE(channel.client.connectCommands(kWaitMs));
    ASSERT_TRUE(channel.client.sendLine("hello ServerCreated there"));
    ASSERT_TRUE(channel.callback.waitFor("event:1002 createSender success"));
    EXPECT_EQ(channel.callback.count("message:hello ServerCreated there"), 1);
    // Our event loop may have accepted the connection already.
    ASSERT_TRUE(peerListener.hasPendingConnections() || peerListener.waitForNewConnection(kWaitMs));
    // Only the service side's own start writes the announcement.
    EXPECT_FALSE(peerListener.nextPendingConnection()->waitForReadyRead(300));
}

// Finished connections are deleted and no longer counted, at most kMaxConnections are kept, and a
// listener that stops listening (as Qt's does after an accept error) listens again.
TEST_F(DuplexIPCTest, PipeConnectionsAreBoundedAndTheListenerComesBack) {
    if (QSysInfo::productType() == QLatin1String("windows")) {
        GTEST_SKIP() << "a named pipe write completes only once the listener, on this same "
                        "thread, turns its event loop; the peers here write blocking";
    }
    Channel channel("bounded");
    (void)channel.ipc.start();
    const QString name = socketName(pipeName(channel.names.receive));
    const auto connections = [&channel] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return channel.ipc.findChild<QLocalServer*>()->findChildren<QLocalSocket*>().size();
    };

    std::vector<std::unique_ptr<QLocalSocket>> peers;
    for (int i = 0; i < DuplexLocalPipe::kMaxConnections + 3; ++i) {
        peers.push_back(std::make_unique<QLocalSocket>());
        peers.back()->connectToServer(name);
        ASSERT_TRUE(peers.back()->waitForConnected(kWaitMs));
        QCoreApplication::processEvents();
    }
    const auto refused = [&peers] {
        return std::count_if(peers.begin(), peers.end(), [](const auto& peer) {
            return peer->state() == QLocalSocket::UnconnectedState;
        });
    };
    EXPECT_TRUE(processEventsUntil([&] { return refused() == 3; }, kWaitMs));
    EXPECT_EQ(connections(), DuplexLocalPipe::kMaxConnections);
    peers.clear();
    EXPECT_TRUE(processEventsUntil([&] { return connections() == 0; }, kWaitMs));

    channel.ipc.findChild<QLocalServer*>()->close();
    QLocalSocket late;
    EXPECT_TRUE(processEventsUntil(
        [&] {
            late.connectToServer(name);
            return late.waitForConnected(10);
        },
        kWaitMs));
    // Admitted, so the count of open connections went down as they finished.
    late.write("late\n");
    EXPECT_TRUE(waitUntilWritten(late, kWaitMs) && channel.callback.waitFor("message:late"));
}

}  // namespace
