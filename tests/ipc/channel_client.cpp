#include "channel_client.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtEndian>
#include <cstring>

#include "protocol.h"
#include "socket_path.h"
#include "test_application.h"
#include "test_names.h"

namespace {

constexpr int kLockTimeoutMs = 1000;

bool openSegment(SharedMemory& memory, const QString& key, int size) {
    memory.setKey(key);
    if (!memory.create(size, SharedMemory::ReadWrite) &&
        memory.error() != SharedMemoryError::AlreadyExists)
        return false;
    (void)memory.attach(SharedMemory::ReadWrite);
    return memory.isAttached();
}

}  // namespace

std::string notificationOf(const QString& segmentKey) {
    return protocol::notificationNativeName(protocol::notificationKey(segmentKey.toStdString()));
}

QByteArray commandLine(const QByteArray& command) {
    return QByteArray::fromStdString(protocol::commandLine(command.toStdString()));
}

QString segmentKey(const QString& name) {
    return QString::fromStdString(protocol::segmentKey(name.toStdString()));
}

QString pipeName(const QString& name) {
    return QString::fromStdString(protocol::pipeName(name.toStdString()));
}

QString socketName(const QString& pipeName) {
    return QString::fromStdString(protocol::socketPath(pipeName.toStdString()).path);
}

void removeStaleSocket(const QString& name) {
    QLocalSocket probe;
    probe.connectToServer(socketName(name), QIODevice::WriteOnly);
    if (probe.waitForConnected(100)) return;
    QLocalServer::removeServer(socketName(name));
}

ChannelNames channelNames(const QString& prefix) {
    const auto name = [&prefix](const char* digit) {
        return QString::fromStdString(testnames::testName(prefix.toStdString() + digit));
    };
    const ChannelNames names{name("-1"), name("-2")};
    removeStaleSocket(pipeName(names.receive));
    removeStaleSocket(pipeName(names.send));
    return names;
}

ChannelClient::ChannelClient(const QString& receiveName, const QString& sendName, int size)
    : m_receiveName(receiveName), m_sendName(sendName), m_size(size) {}

bool ChannelClient::openSegments() {
    const QString in = segmentKey(m_receiveName);
    const QString out = segmentKey(m_sendName);
    if (!openSegment(m_toService, in, m_size) || !openSegment(m_fromService, out, m_size))
        return false;
    m_notifyService = std::make_unique<NotificationSemaphore>(notificationOf(in));
    m_serviceNotifies = std::make_unique<NotificationSemaphore>(notificationOf(out));
    return m_serviceNotifies->isOpen();
}

bool ChannelClient::writeMessage(const QByteArray& payload) {
    return writeRaw(payload.size(), payload);
}

bool ChannelClient::writeRaw(qint32 length, const QByteArray& bytes) {
    if (4 + bytes.size() > m_toService.size()) return false;
    if (!m_toService.tryLock(kLockTimeoutMs)) return false;
    auto* segment = static_cast<char*>(m_toService.data());
    qToLittleEndian<qint32>(length, segment);
    std::memcpy(segment + 4, bytes.constData(), bytes.size());
    (void)m_toService.unlock();
    return m_notifyService->release(1);
}

bool ChannelClient::notifyHoldingLock() {
    return m_toService.tryLock(kLockTimeoutMs) && m_notifyService->release(1);
}

void ChannelClient::releaseLock() { (void)m_toService.unlock(); }

std::optional<QByteArray> ChannelClient::readMessage(int timeoutMs) {
    if (!m_serviceNotifies || m_serviceNotifies->tryAcquire(static_cast<std::uint32_t>(
                                  timeoutMs)) != NotificationSemaphore::Wait::Acquired)
        return std::nullopt;
    if (!m_fromService.tryLock(kLockTimeoutMs)) return std::nullopt;
    const auto* segment = static_cast<const char*>(m_fromService.data());
    const qint32 length = qFromLittleEndian<qint32>(segment);
    std::optional<QByteArray> message;
    if (length >= 0 && length <= m_fromService.size() - 4)
        message = QByteArray(segment + 4, length);
    (void)m_fromService.unlock();
    return message;
}

bool ChannelClient::listen() { return m_listener.listen(socketName(pipeName(m_sendName))); }

std::optional<QByteArray> ChannelClient::announcement(int timeoutMs) {
    if (!m_listener.waitForNewConnection(timeoutMs)) return std::nullopt;
    QLocalSocket* connection = m_listener.nextPendingConnection();
    QByteArray received;
    // Everything the service writes comes at once; a short wait shows that nothing follows.
    while (connection->waitForReadyRead(received.isEmpty() ? timeoutMs : 300))
        received += connection->readAll();
    return received;
}

bool ChannelClient::connectCommands(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    do {
        m_commands.connectToServer(socketName(pipeName(m_receiveName)), QIODevice::WriteOnly);
        if (m_commands.waitForConnected(timeoutMs)) return true;
        m_commands.abort();
        QThread::msleep(20);
    } while (timer.elapsed() < timeoutMs);
    return false;
}

bool ChannelClient::sendLine(const QByteArray& bytes) {
    if (m_commands.write(bytes) != bytes.size()) return false;
    return waitUntilWritten(m_commands, 1000);
}
