#pragma once

// One direction of the channel's frame path: a named shared-memory segment and the thread that
// serves it. A receiver waits for the peer's notification, copies the whole segment out under
// the segment lock and emits getDataFormMemory; receivedData then hands out a snapshot. A sender
// takes messages from sendData (any thread; only the newest pending one is kept), writes each
// into the segment under the lock and notifies the peer. Messages are moved as given; the length
// prefix belongs to the owner.
//
// Construction, init, receivedData, stop and destruction run on the owning thread; init runs
// before start. A size that is not positive, above kMaxSize or cannot be allocated is refused by
// init, and a transport whose init failed never touches a segment. Every copy stays within the
// segment as mapped, which an earlier process may have created smaller than asked.

#include <QByteArray>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>

#include "channel_size.h"
#include "notification_semaphore.h"

class SharedMemory;

class DuplexIPCSharedMemoryThread : public QThread {
    Q_OBJECT
public:
    static constexpr int kLockTimeoutMs = 50;
    static constexpr int kMaxSize = kMaxChannelSize;

    DuplexIPCSharedMemoryThread(const QString& name, int size, bool isReceiver,
                                QObject* parent = nullptr);
    ~DuplexIPCSharedMemoryThread() override;

    // Creates the segment, or attaches to it when the peer created it first.
    bool init();
    // Queues one message, replacing any message still pending. False when the transport has no
    // segment or the message does not fit it.
    bool sendData(const char* data, int size);
    // The segment as last copied out; unchanged until the next call.
    const QByteArray& receivedData();
    // Bytes of the segment that messages may use: 0 until init has attached one.
    [[nodiscard]] int capacity() const { return m_capacity; }
    // Ends the thread: sets the stop request, wakes the waiting loop and waits for it to finish.
    void stop();

signals:
    void msgOutput(QByteArray data);
    void getDataFormMemory();
    void makeSharedMemoryReady(bool finish);

protected:
    void run() override;

private:
    void receiveLoop();
    void sendLoop();
    bool allocateBuffers();
    void discardMemory();

    QString m_name;
    int m_size;
    SharedMemory* m_memory = nullptr;
    QSemaphore m_sendSemaphore{0};
    // Standard mutexes rather than QMutex: ThreadSanitizer only sees locks that it intercepts.
    std::mutex m_sendMutex;
    std::unique_ptr<char[]> m_sendBuffer;
    int m_sendLength = -1;
    std::atomic<bool> m_stop{false};
    NotificationSemaphore m_systemSemaphore;
    bool m_isReceiver;
    QByteArray m_readBuffer;
    QByteArray m_readCopy;
    std::mutex m_readMutex;
    // Held by run as its last step and by stop after QThread::wait, which makes the end of the
    // thread visible to ThreadSanitizer (Qt's own wait is not).
    std::mutex m_runEndMutex;
    bool m_buffersAllocated = false;
    std::atomic<int> m_capacity{0};
};
