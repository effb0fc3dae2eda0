#include "duplex_local_pipe.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <cstring>

#include "test_application.h"

namespace {

constexpr int kWaitMs = 5000;

// Everything one pipe emits, in order.
struct PipeRecord {
    explicit PipeRecord(DuplexLocalPipe& pipe) {
        QObject::connect(&pipe, &DuplexLocalPipe::getData,
                         [this](const QByteArray& data) { pieces.append(data); });
        QObject::connect(&pipe, &DuplexLocalPipe::outputMsg,
                         [this](const QString& msg) { messages.append(msg); });
        QObject::connect(&pipe, &DuplexLocalPipe::event, [this](int code, const QByteArray& data) {
            events.append(QString("%1 %2").arg(code).arg(QString(data)));
        });
    }
    QList<QByteArray> pieces;
    QStringList messages;
    QStringList events;
};

// Local-socket names of this test; a socket file left by a crashed run is removed first.
QString nameFor(const char* tag) {
    const QString name = QString("flt_pipe_%1").arg(tag);
    QLocalServer::removeServer(name);
    return name;
}

class DuplexLocalPipeTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
};

TEST_F(DuplexLocalPipeTest, SplitsEachReadAtEveryLineFeed) {
    using Pieces = QList<QByteArray>;
    EXPECT_EQ(DuplexLocalPipe::splitLines("one\ntwo\n"), (Pieces{"one", "two", ""}));
    EXPECT_EQ(DuplexLocalPipe::splitLines("no end"), (Pieces{"no end"}));
    EXPECT_EQ(DuplexLocalPipe::splitLines(""), (Pieces{""}));
    EXPECT_EQ(DuplexLocalPipe::splitLines("\n\n"), (Pieces{"", "", ""}));
    EXPECT_EQ(DuplexLocalPipe::splitLines("crlf\r\n"), (Pieces{"crlf\r", ""}));
    EXPECT_EQ(DuplexLocalPipe::splitLines(QByteArray("a\0b\nc", 5)),
              (Pieces{QByteArray("a\0b", 3), "c"}));
}

TEST_F(DuplexLocalPipeTest, AnnouncesItselfToAListeningPeerWithExactlyOneLine) {
    const QString listenName = nameFor("listen_a");
    QLocalServer peer;
    ASSERT_TRUE(peer.listen(nameFor("peer_a")));
    DuplexLocalPipe pipe(listenName, peer.serverName());
    PipeRecord record(pipe);

    EXPECT_FALSE(pipe.start(false));
    ASSERT_TRUE(peer.waitForNewConnection(kWaitMs));
    QLocalSocket* connection = peer.nextPendingConnection();
    QByteArray received;
    while (connection->waitForReadyRead(300)) received += connection->readAll();
    EXPECT_EQ(received, QByteArray("ServerCreated\n"));

    ASSERT_EQ(record.messages.size(), 6);
    EXPECT_EQ(record.messages[0], "create pipe 0");
    EXPECT_EQ(record.messages[1], listenName);
    EXPECT_EQ(record.messages[2], "connected listen success: " + listenName);
    EXPECT_TRUE(QRegularExpression("^connected localsocket, use \\d+ ms$")
                    .match(record.messages[4])
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression("^connected localsocket success, use \\d+ms$")
                    .match(record.messages[5])
                    .hasMatch());
    EXPECT_EQ(record.events,
              (QStringList{"1001 createListener success", "1002 createSender success"}));
}

TEST_F(DuplexLocalPipeTest, PeerNotListeningCostsOneBoundedAttempt) {
    const QString listenName = nameFor("listen_b");
    const QString absent = nameFor("absent_b");
    DuplexLocalPipe pipe(listenName, absent);
    PipeRecord record(pipe);

    EXPECT_TRUE(pipe.start(false));
    ASSERT_EQ(record.messages.size(), 6);
    const QRegularExpressionMatch used =
        QRegularExpression("^connected localsocket, use (\\d+) ms$").match(record.messages[4]);
    ASSERT_TRUE(used.hasMatch());
    EXPECT_LE(used.captured(1).toInt(), 1500);
    EXPECT_TRUE(record.messages[5].startsWith("connected localsocket error " + absent + ","))
        << record.messages.join("|").toStdString();
    EXPECT_EQ(record.events, QStringList{"1001 createListener success"});
}

TEST_F(DuplexLocalPipeTest, WaitingForThePeerConnectsOnItsAnnouncement) {
    const QString listenName = nameFor("listen_c");
    QLocalServer peerListener;
    ASSERT_TRUE(peerListener.listen(nameFor("peer_c")));
    DuplexLocalPipe pipe(listenName, peerListener.serverName());
    PipeRecord record(pipe);

    EXPECT_TRUE(pipe.start(true));
    EXPECT_EQ(record.messages.first(), "create pipe 1");
    EXPECT_FALSE(peerListener.waitForNewConnection(200));

    // Two peers write; both are read, each through its own connection.
    QLocalSocket first;
    QLocalSocket second;
    first.connectToServer(listenName);
    second.connectToServer(listenName);
    ASSERT_TRUE(first.waitForConnected(kWaitMs));
    ASSERT_TRUE(second.waitForConnected(kWaitMs));
    second.write("plain\n");
    ASSERT_TRUE(second.waitForBytesWritten(kWaitMs));
    ASSERT_TRUE(processEventsUntil([&] { return record.pieces.size() == 2; }, kWaitMs));
    first.write("hello ServerCreated there");
    ASSERT_TRUE(first.waitForBytesWritten(kWaitMs));
    ASSERT_TRUE(processEventsUntil([&] { return record.events.size() == 2; }, kWaitMs));

    EXPECT_EQ(record.pieces, (QList<QByteArray>{"plain", "", "hello ServerCreated there"}));
    EXPECT_EQ(record.events.last(), "1002 createSender success");
    // Our event loop may have accepted the connection already.
    ASSERT_TRUE(peerListener.hasPendingConnections() || peerListener.waitForNewConnection(kWaitMs));
    // Only the service side's own start writes the announcement.
    QLocalSocket* connection = peerListener.nextPendingConnection();
    EXPECT_FALSE(connection->waitForReadyRead(300));
}

// A socket file that nobody serves (left by a killed process) is replaced; one that a live
// process serves is never taken over.
TEST_F(DuplexLocalPipeTest, ListensOverAStaleSocketButNeverOverALiveOne) {
    const QString stale = nameFor("stale");
    const QByteArray path = QDir::temp().filePath(stale).toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);

    DuplexLocalPipe overStale(stale, nameFor("unused_d"));
    EXPECT_TRUE(overStale.createListener());

    const QString live = nameFor("live");
    QLocalServer owner;
    ASSERT_TRUE(owner.listen(live));
    DuplexLocalPipe overLive(live, nameFor("unused_e"));
    PipeRecord record(overLive);
    EXPECT_FALSE(overLive.createListener());
    EXPECT_EQ(record.messages, QStringList{"connected listen error: " + live});
    QLocalSocket client;
    client.connectToServer(live);
    ASSERT_TRUE(client.waitForConnected(kWaitMs));
    EXPECT_TRUE(owner.waitForNewConnection(kWaitMs));
}

}  // namespace
