#include "duplex_ipc_shared_memory_thread.h"

#include <QDebug>
#include <algorithm>
#include <cstring>
#include <new>

#include "shared_memory.h"

namespace {

constexpr char kModule[] = "[M_DuplexIPC]";
constexpr char kInitFunction[] = "DuplexIPCSharedMemoryThread::init";

// Log lines carry no file, line or function context.
void logInfo(const QString& text) { QMessageLogger().info() << kModule << kInitFunction << text; }

void logWarning(const QString& text) { QMessageLogger().warning().noquote() << kModule << text; }

void logCritical(const QString& text) {
    QMessageLogger().critical() << kModule << kInitFunction << text;
}

}  // namespace

DuplexIPCSharedMemoryThread::DuplexIPCSharedMemoryThread(const QString& name, int size,
                                                         bool isReceiver, QObject* parent)
    : QThread(parent),
      m_name(name),
      m_size(size),
      m_systemSemaphore(
          protocol::notificationNativeName(protocol::notificationKey(name.toStdString())), 0),
      m_isReceiver(isReceiver) {
    m_buffersAllocated = allocateBuffers();
}

DuplexIPCSharedMemoryThread::~DuplexIPCSharedMemoryThread() {
    stop();
    discardMemory();
}

// The size comes from the command line unchecked; a size the process cannot hold leaves the
// transport without buffers, and init then refuses it. Only a sender keeps a buffer: the message
// that waits while the peer holds the segment lock.
bool DuplexIPCSharedMemoryThread::allocateBuffers() {
    if (m_size <= 0 || m_size > kMaxSize) return false;
    if (m_isReceiver) return true;
    m_sendBuffer.reset(new (std::nothrow) char[m_size]);
    return m_sendBuffer != nullptr;
}

bool DuplexIPCSharedMemoryThread::init() {
    discardMemory();
    if (m_size <= 0) {
        logCritical(QString("name:%1,size:%2 refused: the size must be a positive number of bytes")
                        .arg(m_name)
                        .arg(m_size));
        return false;
    } else if (m_size > kMaxSize) {
        logCritical(QString("name:%1,size:%2 refused: a channel takes at most %3 bytes")
                        .arg(m_name)
                        .arg(m_size)
                        .arg(kMaxSize));
        return false;
    } else if (!m_buffersAllocated) {
        logCritical(QString("name:%1,size:%2 refused: buffers of that size cannot be allocated")
                        .arg(m_name)
                        .arg(m_size));
        return false;
    }

    m_memory = new SharedMemory(nullptr);
    m_memory->setKey(m_name);
    // Whichever process comes first creates the segment; the other one attaches to it.
    if (m_memory->create(m_size, SharedMemory::ReadWrite) ||
        m_memory->error() == SharedMemoryError::AlreadyExists) {
        (void)m_memory->attach(SharedMemory::ReadWrite);
        if (m_memory->isAttached()) {
            m_capacity = std::min(m_size, m_memory->size());
            m_readView =
                QByteArray::fromRawData(static_cast<const char*>(m_memory->data()), m_capacity);
            logInfo(QString("name:%1,size:%2 create success").arg(m_name).arg(m_size));
            if (m_capacity < m_size) {
                logInfo(QString("name:%1 existing segment holds only %2 bytes, messages are "
                                "limited to that")
                            .arg(m_name)
                            .arg(int(m_capacity)));
            }
            return true;
        }
    }
    logCritical(QString("memory err:%1, errstring:%2")
                    .arg(static_cast<int>(m_memory->error()))
                    .arg(m_memory->errorString()));
    return false;
}

void DuplexIPCSharedMemoryThread::discardMemory() {
    m_capacity = 0;
    m_readView = QByteArray();
    if (!m_memory) return;
    if (m_memory->isAttached()) (void)m_memory->detach();
    m_memory->deleteLater();
    m_memory = nullptr;
}

bool DuplexIPCSharedMemoryThread::sendData(const char* data, int size) {
    const Piece message{data, size};
    return sendData(&message, 1, size);
}

bool DuplexIPCSharedMemoryThread::sendData(const Piece* pieces, int count, int size) {
    if (size <= 0 || size > m_capacity) return false;
    int written = 0;
    for (int i = 0; i < count; ++i) {
        if (pieces[i].size < 0 || pieces[i].size > size - written) return false;
        written += pieces[i].size;
    }
    std::unique_lock<std::mutex> segment(m_segmentMutex, std::try_to_lock);
    const bool direct = segment.owns_lock() && m_memory->tryLock(0);
    if (direct && size > m_memory->currentSize()) {
        // A segment shrunk by a peer cannot take the message; it is dropped, not written past
        // the segment's end.
        (void)m_memory->unlock();
        return false;
    }
    char* target = direct ? static_cast<char*>(m_memory->data()) : m_sendBuffer.get();
    std::lock_guard<std::mutex> locker(m_sendMutex);
    for (int i = 0; i < count; ++i) {
        if (pieces[i].size > 0) std::memcpy(target, pieces[i].data, pieces[i].size);
        target += pieces[i].size;
    }
    if (direct) {
        // A message still pending is older than this one.
        m_sendLength = 0;
        (void)m_systemSemaphore.release(1);
        (void)m_memory->unlock();
    } else {
        m_sendLength = written;
        m_sendSemaphore.release(1);
    }
    return true;
}

// A receiver is not woken through the notification semaphore: another receiver on the same
// names would take that unit as often as not, and this one would then wait for ever.
void DuplexIPCSharedMemoryThread::stop() {
    m_stop = true;
    if (!m_isReceiver && isRunning()) m_sendSemaphore.release(1);
    wait();
    std::lock_guard<std::mutex> runEnded(m_runEndMutex);
}

// A stop request is never withdrawn: a stopped transport stays stopped.
void DuplexIPCSharedMemoryThread::run() {
    emit makeSharedMemoryReady(true);
    if (m_isReceiver) {
        receiveLoop();
    } else {
        sendLoop();
    }
    std::lock_guard<std::mutex> runEnds(m_runEndMutex);
}

void DuplexIPCSharedMemoryThread::receiveLoop() {
    while (!m_stop) {
        // The time-out only lets the loop see a stop request; a notification ends the wait at once.
        const NotificationSemaphore::Wait woken = m_systemSemaphore.tryAcquire(kStopCheckMs);
        if (woken == NotificationSemaphore::Wait::TimedOut) continue;
        // A failed wait counts as a wake-up like any other, but a semaphore that keeps failing
        // must not make the loop spin.
        if (woken == NotificationSemaphore::Wait::Failed) msleep(kLockTimeoutMs);
        // Notifications that came meanwhile ask for the same read: the newest message.
        (void)m_systemSemaphore.takeAll();
        if (m_stop) break;
        if (m_capacity == 0) continue;
        if (!lockSegment()) continue;
        // A peer may have shrunk the segment: only what is still there is read.
        m_readable = std::min<int>(m_capacity, m_memory->currentSize());
        emit getDataFormMemory();
        (void)m_memory->unlock();
    }
}

void DuplexIPCSharedMemoryThread::sendLoop() {
    while (!m_stop) {
        m_sendSemaphore.acquire(1);
        if (m_stop) break;
        sendPending();
    }
}

// Without the lock the message stays pending until the next sendData wakes the loop.
void DuplexIPCSharedMemoryThread::sendPending() {
    std::lock_guard<std::mutex> segment(m_segmentMutex);
    {
        std::lock_guard<std::mutex> locker(m_sendMutex);
        if (m_sendLength <= 0) return;
    }
    if (!lockSegment()) return;
    {
        std::lock_guard<std::mutex> locker(m_sendMutex);
        // A message that no longer fits a shrunk segment is dropped, not written past its end.
        if (m_sendLength <= m_memory->currentSize())
            std::memcpy(m_memory->data(), m_sendBuffer.get(), m_sendLength);
        m_sendLength = 0;
    }
    (void)m_systemSemaphore.release(1);
    (void)m_memory->unlock();
}

// A holder that keeps the lock usually keeps it for every message: said once per run, not once
// per message.
bool DuplexIPCSharedMemoryThread::lockSegment() {
    if (m_memory->tryLock(kLockTimeoutMs)) return true;
    if (!m_lockTimeoutReported) {
        logWarning(QString("name:%1 another process held the segment lock for more than %2 ms, so "
                           "a message was let go; a client that stalls while holding it, or a "
                           "second client on these names, is the usual cause: restart the client "
                           "or give each client its own channel names (said once per run)")
                       .arg(m_name)
                       .arg(kLockTimeoutMs));
        m_lockTimeoutReported = true;
    }
    return false;
}
