#pragma once

// One direction of the channel's frame path: a named shared-memory segment and the thread that
// serves it.
//
// A receiver waits for the peer's notification and takes, with it, every notification already
// pending (a burst of them asks for one read). It then locks the segment and emits
// getDataFormMemory from its own thread while the lock is held; receivedData is the segment
// itself, valid only during that emission, so connect to it directly (Qt::DirectConnection) and
// copy out what you keep.
//
// A sender writes each message of sendData (any thread) straight into the segment when the
// segment lock is free at once, and notifies the peer. When the peer holds the lock, the message
// is kept (only the newest one) and the thread writes it as soon as it gets the lock within
// kLockTimeoutMs. The length prefix belongs to the owner.
//
// Construction, init, stop and destruction run on the owning thread; init runs before start. A
// size that is not positive, above kMaxSize or cannot be allocated is refused by init, and a
// transport whose init failed never touches a segment. Every copy stays within the segment as
// mapped, which an earlier process may have created smaller than asked.

#include <QByteArray>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>

#include "notification_semaphore.h"
#include "protocol.h"

class SharedMemory;

class DuplexIPCSharedMemoryThread : public QThread {
    Q_OBJECT
public:
    static constexpr int kLockTimeoutMs = protocol::kLockTimeoutMs;
    static constexpr int kMaxSize = protocol::kMaxSize;
    // The longest a receiver takes to see a stop request.
    static constexpr int kStopCheckMs = 100;

    // size bytes at data: one piece of a message that sendData gathers.
    struct Piece {
        const char* data;
        int size;
    };

    DuplexIPCSharedMemoryThread(const QString& name, int size, bool isReceiver,
                                QObject* parent = nullptr);
    ~DuplexIPCSharedMemoryThread() override;

    // Creates the segment, or attaches to it when the peer created it first.
    bool init();
    // Sends one message of size bytes, replacing any message still pending. False when the
    // transport has no segment or the message does not fit it.
    bool sendData(const char* data, int size);
    // The same for a message whose bytes lie in several pieces, written one after the other; a
    // message longer than its pieces ends with whatever the segment held.
    bool sendData(const Piece* pieces, int count, int size);
    // The segment while getDataFormMemory is being emitted; empty before init.
    const QByteArray& receivedData() const { return m_readView; }
    // How much of receivedData can be read now: less than the capacity when a peer shrank the
    // segment. Valid while getDataFormMemory runs.
    int readableSize() const { return m_readable; }
    // Bytes of the segment that messages may use: 0 until init has attached one.
    [[nodiscard]] int capacity() const { return m_capacity; }
    // Ends the thread: sets the stop request and waits for the loop to finish. A sender's loop is
    // woken at once; a receiver's sees the request within kStopCheckMs, without a wake-up through
    // the notification semaphore that another receiver on the same names could take.
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
    void sendPending();
    bool lockSegment();
    bool allocateBuffers();
    void discardMemory();

    QString m_name;
    int m_size;
    SharedMemory* m_memory = nullptr;
    QSemaphore m_sendSemaphore{0};
    // Standard mutexes rather than QMutex: ThreadSanitizer only sees locks that it intercepts.
    // The segment lock belongs to the SharedMemory object, not to a thread, so the threads of
    // this process take m_segmentMutex before it.
    std::mutex m_segmentMutex;
    std::mutex m_sendMutex;
    std::unique_ptr<char[]> m_sendBuffer;
    int m_sendLength = -1;
    std::atomic<bool> m_stop{false};
    NotificationSemaphore m_systemSemaphore;
    bool m_isReceiver;
    QByteArray m_readView;
    int m_readable = 0;
    // Held by run as its last step and by stop after QThread::wait, which makes the end of the
    // thread visible to ThreadSanitizer (Qt's own wait is not).
    std::mutex m_runEndMutex;
    bool m_buffersAllocated = false;
    std::atomic<int> m_capacity{0};
    // Touched by the transport's own thread only.
    bool m_lockTimeoutReported = false;
};
