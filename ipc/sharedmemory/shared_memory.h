#pragma once

// A named block of memory that two processes map at once, with a cross-process lock. Created,
// keyed, attached and detached by the thread that sets up the channel; afterwards one thread at a
// time calls tryLock, data and unlock. Holds only its SharedMemoryPrivate, where the work is done.

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "shared_memory_p.h"

class SharedMemory : public QObject {
    Q_OBJECT
public:
    enum AccessMode { ReadOnly = 0, ReadWrite = 1 };

    explicit SharedMemory(QObject* parent = nullptr);
    ~SharedMemory() override;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    void setKey(const QString& key);
    bool create(int size, AccessMode mode);
    bool attach(AccessMode mode);
    bool detach();
    bool isAttached() const;
    void* data();
    // timeoutMs 0xFFFFFFFF waits without limit.
    bool tryLock(std::uint32_t timeoutMs);
    bool unlock();
    SharedMemoryError error() const;
    QString errorString() const;
    // Bytes mapped, as the system reports them (whole pages; the creator's size when this process
    // attached to an existing segment); 0 when not attached.
    int size() const;
    // What can be touched now, at most size(): less when the segment was shrunk. Lock held.
    int currentSize() const;

private:
    std::unique_ptr<SharedMemoryPrivate> d;
};
