#pragma once

// The client side of a channel, written the way a client program follows docs/protocol.md, for
// the channel tests: it writes messages into the service's receive segment and notifies it, waits
// (with a time-out) for the service's notification and reads its send segment, listens for the
// service's announcement and sends control lines. Used by one thread.

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "notification_semaphore.h"
#include "shared_memory.h"
#include "test_frames.h"

// "[CMD]" + command + line feed.
QByteArray commandLine(const QByteArray& command);
// The protocol's names, for QString channel names.
QString segmentKey(const QString& channelName);
QString pipeName(const QString& channelName);
// The local-socket name under which a pipe name is found: its path in the private socket folder.
QString socketName(const QString& pipeName);
// The native name of the semaphore that announces messages in a segment.
std::string notificationOf(const QString& segmentKey);

// Removes the socket file of a local-socket name, unless a live process answers on it.
void removeStaleSocket(const QString& name);

// A test's own channel names, testnames::testName of prefix + "-1" and of prefix + "-2": they
// differ only in digits, which the native names keep only in their digest. Stale socket files of
// the names are removed.
struct ChannelNames {
    QString receive;
    QString send;
};
ChannelNames channelNames(const QString& prefix);

class ChannelClient {
public:
    // The names are the service's: the client writes to receiveName and reads from sendName.
    ChannelClient(const QString& receiveName, const QString& sendName, int size);

    // Creates both segments, or attaches to them when the service created them first.
    bool openSegments();
    // Writes one message: the length prefix, then the payload.
    bool writeMessage(const QByteArray& payload);
    // Writes a length prefix of our choosing followed by `bytes`, and notifies.
    bool writeRaw(qint32 length, const QByteArray& bytes);
    // Waits for the service's next notification and reads its message (payload only); nothing
    // when none comes in time.
    std::optional<QByteArray> readMessage(int timeoutMs);

    // Listens under sendName + "_pipe", where the service announces itself.
    bool listen();
    // Accepts the service's connection and returns all it wrote within `timeoutMs`; nothing when
    // the service did not connect.
    std::optional<QByteArray> announcement(int timeoutMs);
    // Connects to receiveName + "_pipe", retrying until the service listens or time runs out.
    bool connectCommands(int timeoutMs);
    bool sendLine(const QByteArray& bytes);
    // Notifies the service while holding its receive segment's lock, as a client that stalls in
    // the middle of a write would; releaseLock ends the stall.
    bool notifyHoldingLock();
    void releaseLock();
    // Joins a running service: connects for commands, then opens the segments it has set up.
    bool join(int timeoutMs) { return connectCommands(timeoutMs) && openSegments(); }

private:
    QString m_receiveName;
    QString m_sendName;
    int m_size;
    SharedMemory m_toService;
    SharedMemory m_fromService;
    std::unique_ptr<NotificationSemaphore> m_notifyService;
    std::unique_ptr<NotificationSemaphore> m_serviceNotifies;
    QLocalServer m_listener;
    QLocalSocket m_commands;
};
