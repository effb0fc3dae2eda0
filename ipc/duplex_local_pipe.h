#pragma once

// The text side of the channel: a local-socket listener that reads lines from the peer, and one
// write-only connection to the peer, used once for the "ServerCreated" announcement. Lines end
// with a line feed; each read is split on its own and every piece is emitted through getData.
// Diagnostics go out through outputMsg, the two milestones through event (1001 listening,
// 1002 connected). Lives on the thread that creates it (the main thread) and emits there.
//
// On Linux the sockets live in the user's private folder (protocol::socketPath). The listener's
// socket file is the user's alone (mode 0600), and a connection from a process of another user is
// closed at once. Finished connections are deleted; at most kMaxConnections are kept, further ones
// are closed; a second one open at the same time is logged as a second client. A listener that
// stops listening (Qt closes it after an accept error, for example at the descriptor limit) is set
// up again within kListenerCheckMs.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "control_input_watch.h"

class QLocalServer;
class QLocalSocket;

class DuplexLocalPipe : public QObject {
    Q_OBJECT
public:
    static constexpr int kListenerEvent = 1001;
    static constexpr int kSenderEvent = 1002;
    static constexpr int kConnectTimeoutMs = 1000;
    static constexpr int kMaxConnections = 64;
    static constexpr int kListenerCheckMs = 1000;

    DuplexLocalPipe(const QString& listenName, const QString& connectName,
                    QObject* parent = nullptr);
    ~DuplexLocalPipe() override;

    // Listens, and unless waitForPeer is set connects to the peer and announces itself.
    bool start(bool waitForPeer);
    bool createListener();
    bool createSender();

    // The pieces one read is cut into: split at every line feed, empty pieces kept.
    [[nodiscard]] static QList<QByteArray> splitLines(const QByteArray& bytes);

    // Any thread: control lines may still be on their way to getData (see ControlInputWatch).
    [[nodiscard]] bool controlInputPending() const;
    // Main thread: delivers through getData the lines the connections hold now, whose socket
    // events the event loop may deliver only after the caller's. Never waits for more.
    void readControlInput();

signals:
    void getData(QByteArray data);
    void outputMsg(QString msg);
    void event(int code, QByteArray data);

private slots:
    void onNewConnect();
    void onReceive();

private:
    bool listenRemovingStaleSocket();
    bool admit(QLocalSocket* connection);
    void deliver(QLocalSocket* connection);
    void restoreListener();
    void reportSecondClient(QLocalSocket* connection);

    QLocalServer* m_server = nullptr;
    QLocalSocket* m_sender = nullptr;
    ControlInputWatch m_inputWatch;
    QString m_listenName;
    QString m_listenPath;
    QString m_connectName;
    int m_connections = 0;
    bool m_refusalReported = false;
};
