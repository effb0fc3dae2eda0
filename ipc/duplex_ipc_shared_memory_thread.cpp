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

void logCritical(const QString& text) {
    QMessageLogger().critical() << kModule << kInitFunction << text;
}

}  // namespace

DuplexIPCSharedMemoryThread::DuplexIPCSharedMemoryThread(const QString& name, int size,
                                                         bool isReceiver, QObject* parent)
    : QThread(parent),
      m_name(name),
      m_size(size),
      m_systemSemaphore(name + "_sys", 0),
      m_isReceiver(isReceiver) {
    m_buffersAllocated = allocateBuffers();
}

DuplexIPCSharedMemoryThread::~DuplexIPCSharedMemoryThread() {
    stop();
    discardMemory();
}

// The size comes from the command line unchecked; a size the process cannot hold leaves the
// transport without buffers, and init then refuses it.
bool DuplexIPCSharedMemoryThread::allocateBuffers() {
    if (m_size <= 0 || m_size > kMaxSize) return false;
    try {
        m_sendBuffer.reset(new (std::nothrow) char[m_size]);
        if (!m_sendBuffer) return false;
        m_readBuffer = QByteArray(m_size, '\0');
        m_readCopy = QByteArray(m_size, '\0');
        return true;
    } catch (const std::bad_alloc&) {
        m_sendBuffer.reset();
        m_readBuffer = QByteArray();
        m_readCopy = QByteArray();
        return false;
    }
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
    if (!m_memory) return;
    if (m_memory->isAttached()) (void)m_memory->detach();
    m_memory->deleteLater();
    m_memory = nullptr;
}

bool DuplexIPCSharedMemoryThread::sendData(const char* data, int size) {
    if (size <= 0 || size > m_capacity) return false;
    std::lock_guard<std::mutex> locker(m_sendMutex);
    std::memcpy(m_sendBuffer.get(), data, size);
    m_sendLength = size;
    m_sendSemaphore.release(1);
    return true;
}

const QByteArray& DuplexIPCSharedMemoryThread::receivedData() {
    std::lock_guard<std::mutex> locker(m_readMutex);
    if (m_readCopy.size() == m_readBuffer.size() && !m_readBuffer.isEmpty())
        std::memcpy(m_readCopy.data(), m_readBuffer.constData(), m_readBuffer.size());
    return m_readCopy;
}

void DuplexIPCSharedMemoryThread::stop() {
    m_stop = true;
    if (isRunning()) {
        // Wake the one wait the loop of this mode blocks in.
        if (m_isReceiver) {
            (void)m_systemSemaphore.release(1);
        } else {
            m_sendSemaphore.release(1);
        }
    }
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
        // A failed acquire counts as a wake-up like any other, but a semaphore that keeps failing
        // must not make the loop spin.
        if (!m_systemSemaphore.acquire()) msleep(kLockTimeoutMs);
        if (m_stop) break;
        if (m_capacity == 0) continue;
        if (!m_memory->tryLock(kLockTimeoutMs)) continue;
        // A peer may have shrunk the segment: copy only what is still there.
        const int capacity = std::min<int>(m_capacity, m_memory->currentSize());
        {
            std::lock_guard<std::mutex> locker(m_readMutex);
            std::memcpy(m_readBuffer.data(), m_memory->data(), capacity);
        }
        emit getDataFormMemory();
        (void)m_memory->unlock();
    }
}

void DuplexIPCSharedMemoryThread::sendLoop() {
    while (!m_stop) {
        m_sendSemaphore.acquire(1);
        if (m_stop) break;
        {
            std::lock_guard<std::mutex> locker(m_sendMutex);
            if (m_sendLength <= 0) continue;
        }
        // Without the lock the message stays pending until the next sendData wakes the loop.
        if (!m_memory->tryLock(kLockTimeoutMs)) continue;
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
}
