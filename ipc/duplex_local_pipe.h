#pragma once

// The text side of the channel: a local-socket listener that reads lines from the peer, and one
// write-only connection to the peer, used once for the "ServerCreated" announcement. Lines end
// with a line feed; each read is split on its own and every piece is emitted through getData.
// Diagnostics go out through outputMsg, the two milestones through event (1001 listening,
// 1002 connected). Lives on the thread that creates it (the main thread) and emits there.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

class DuplexLocalPipe : public QObject {
    Q_OBJECT
public:
    static constexpr int kListenerEvent = 1001;
    static constexpr int kSenderEvent = 1002;
    static constexpr int kConnectTimeoutMs = 1000;

    DuplexLocalPipe(const QString& listenName, const QString& connectName,
                    QObject* parent = nullptr);
    ~DuplexLocalPipe() override;

    // Listens, and unless waitForPeer is set connects to the peer and announces itself.
    bool start(bool waitForPeer);
    bool createListener();
    bool createSender();

    // The pieces one read is cut into: split at every line feed, empty pieces kept.
    [[nodiscard]] static QList<QByteArray> splitLines(const QByteArray& bytes);

signals:
    void getData(QByteArray data);
    void outputMsg(QString msg);
    void event(int code, QByteArray data);

private slots:
    void onNewConnect();
    void onReceive();

private:
    bool listenRemovingStaleSocket();

    QLocalServer* m_server = nullptr;
    QLocalSocket* m_sender = nullptr;
    QString m_listenName;
    QString m_connectName;
};
