#include "duplex_local_pipe.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cstdio>

#include "peer_credentials.h"
#include "protocol.h"
#include "socket_path.h"

namespace {

using protocol::kAnnouncement;
constexpr int kProbeTimeoutMs = 500;

// Where the socket of a pipe name lives; empty, with the reason logged, when there is no private
// folder for it.
QString socketPathOf(const QString& name) {
    const protocol::SocketPath socket = protocol::socketPath(name.toStdString());
    if (socket.path.empty()) qCritical().noquote() << "[M_DuplexIPC]" << socket.error.c_str();
    return QString::fromStdString(socket.path);
}

// True when some process accepts connections on the name right now.
bool somebodyListensOn(const QString& name) {
    QLocalSocket probe;
    probe.connectToServer(name, QIODevice::WriteOnly);
    const bool answered = probe.waitForConnected(kProbeTimeoutMs);
    probe.abort();
    return answered;
}

}  // namespace

DuplexLocalPipe::DuplexLocalPipe(const QString& listenName, const QString& connectName,
                                 QObject* parent)
    : QObject(parent), m_listenName(listenName), m_connectName(connectName) {}

DuplexLocalPipe::~DuplexLocalPipe() = default;

bool DuplexLocalPipe::start(bool waitForPeer) {
    emit outputMsg(QString("create pipe %1").arg(waitForPeer ? 1 : 0));
    if (!createListener()) return false;
    if (waitForPeer) return true;
    if (!createSender()) return true;
    // The client often reads our console output; let it see everything logged so far first.
    std::fflush(stdout);
    const QByteArray line = QByteArray(kAnnouncement) + protocol::kLineEnd;
    m_sender->write(line);
    m_sender->flush();
    return false;
}

bool DuplexLocalPipe::createListener() {
    if (m_server) return true;
    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &DuplexLocalPipe::onNewConnect);
    m_listenPath = socketPathOf(m_listenName);
    if (m_listenPath.isEmpty() || !listenRemovingStaleSocket()) {
        emit outputMsg(QString("connected listen error: %1").arg(m_listenName));
        return false;
    }
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, &DuplexLocalPipe::restoreListener);
    watch->start(kListenerCheckMs);
    emit outputMsg(m_listenName);
    emit outputMsg(QString("connected listen success: %1").arg(m_listenName));
    emit event(kListenerEvent, QByteArray("createListener success"));
    return true;
}

// A name that a live process serves is never taken over; it is asked first, because Windows lets
// a second server listen under a live pipe name. A process that was killed leaves its socket file
// behind (Linux), and listening on that name then fails for ever: such a file is removed.
bool DuplexLocalPipe::listenRemovingStaleSocket() {
    if (somebodyListensOn(m_listenPath)) return false;
    if (!m_server->listen(m_listenPath)) {
        if (m_server->serverError() != QAbstractSocket::AddressInUseError) return false;
        QLocalServer::removeServer(m_listenPath);
        if (!m_server->listen(m_listenPath)) return false;
    }
    // Not Qt's UserAccessOption: it renames its socket over whatever has the name, a live
    // socket included. Until this takes effect the peer check keeps strangers out.
    QFile::setPermissions(m_server->fullServerName(), QFile::ReadOwner | QFile::WriteOwner);
    m_inputWatch.watchListener(m_server->socketDescriptor());
    return true;
}

bool DuplexLocalPipe::createSender() {
    if (m_sender) return true;
    m_sender = new QLocalSocket(this);
    m_sender->setServerName(socketPathOf(m_connectName));
    emit outputMsg(m_sender->errorString());

    m_sender->connectToServer(QIODevice::WriteOnly);
    const qint64 begin = QDateTime::currentMSecsSinceEpoch();
    const bool connected = m_sender->waitForConnected(kConnectTimeoutMs);
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - begin;

    emit outputMsg(QString("connected localsocket, use %1 ms").arg(elapsed));
    if (!connected) {
        // The socket forgets its server name when the attempt fails; report the name we tried.
        emit outputMsg(QString("connected localsocket error %1,%2")
                           .arg(m_connectName, m_sender->errorString()));
        return false;
    }
    emit outputMsg(QString("connected localsocket success, use %1ms").arg(elapsed));
    emit event(kSenderEvent, QByteArray("createSender success"));
    return true;
}

void DuplexLocalPipe::onNewConnect() {
    emit outputMsg("new connection get");
    auto* server = qobject_cast<QLocalServer*>(sender());
    if (!server) return;
    QLocalSocket* connection = server->nextPendingConnection();
    if (!connection) return;
    emit outputMsg(connection->serverName());
    if (!admit(connection)) {
        connection->abort();
        connection->deleteLater();
        return;
    }
    ++m_connections;
    if (m_connections == 2) reportSecondClient(connection);
    const qintptr descriptor = connection->socketDescriptor();
    m_inputWatch.watch(descriptor);
    connect(connection, &QLocalSocket::readyRead, this, &DuplexLocalPipe::onReceive);
    connect(connection, &QLocalSocket::disconnected, this, [this, connection, descriptor] {
        if (connection->bytesAvailable() > 0) deliver(connection);
        m_inputWatch.unwatch(descriptor);
        --m_connections;
        connection->deleteLater();
    });
}

// Only processes of our own user may steer the service, and only so many at once: each
// connection costs a descriptor and memory for as long as it stays open.
bool DuplexLocalPipe::admit(QLocalSocket* connection) {
    QString refusal;
    if (!peerIsSameUser(connection->socketDescriptor())) {
        refusal = QString("connection refused: the peer runs as another user");
    } else if (m_connections >= kMaxConnections) {
        refusal =
            QString("connection refused: %1 connections are open already").arg(kMaxConnections);
    } else {
        m_refusalReported = false;
        return true;
    }
    if (!m_refusalReported) emit outputMsg(refusal);
    m_refusalReported = true;
    return false;
}

// Clients are not told apart on the channel: a second one steers the same controls, and whoever
// reads the results takes them from the other. Said once each time a second connection joins one.
void DuplexLocalPipe::reportSecondClient(QLocalSocket* connection) {
    qWarning().noquote() << QString(
                                "[M_DuplexIPC] a second client connected to %1 (process %2) "
                                "while another one is connected: both steer one channel and "
                                "their frames and results mix; give each client its own "
                                "channel names")
                                .arg(m_listenName)
                                .arg(peerProcessId(connection->socketDescriptor()));
}

void DuplexLocalPipe::restoreListener() {
    if (m_server->isListening()) return;
    emit outputMsg(QString("listener lost (%1), listening again: %2")
                       .arg(m_server->errorString(), m_listenName));
    (void)listenRemovingStaleSocket();
}

void DuplexLocalPipe::onReceive() {
    auto* connection = qobject_cast<QLocalSocket*>(sender());
    if (connection) deliver(connection);
}

void DuplexLocalPipe::deliver(QLocalSocket* connection) {
    const QList<QByteArray> pieces = splitLines(connection->readAll());
    for (const QByteArray& piece : pieces) {
        emit getData(piece);
        if (piece.contains(kAnnouncement)) createSender();
    }
}

bool DuplexLocalPipe::controlInputPending() const { return m_inputWatch.pending(); }

// Connections that wait in the listener's queue are taken first, so that lines a client wrote
// before its first frame are read too (the input watch keeps the listener's own event, which may
// follow in this pass of the event loop, from finding the queue empty). Connections are the
// server's children. A wait of 0 where bytes are known to be there returns at once, having
// emitted readyRead, and never reports a time-out.
void DuplexLocalPipe::readControlInput() {
    if (!m_server) return;
    bool queueEmpty = false;
    for (int taken = 0; taken < kMaxConnections && !queueEmpty && m_server->isListening(); ++taken)
        (void)m_server->waitForNewConnection(0, &queueEmpty);
    const QList<QLocalSocket*> connections = m_server->findChildren<QLocalSocket*>();
    for (QLocalSocket* connection : connections) {
        if (connection->state() == QLocalSocket::ConnectedState &&
            !ControlInputWatch::hasNoUnreadBytes(connection->socketDescriptor()))
            (void)connection->waitForReadyRead(0);
    }
}

QList<QByteArray> DuplexLocalPipe::splitLines(const QByteArray& bytes) {
    return bytes.split(protocol::kLineEnd);
}
