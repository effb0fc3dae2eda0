#pragma once

// The working part of a named shared-memory segment, free of Qt so that the client SDK can use it
// too. The system knows the segment by the native key of the caller's key ("sm_sharedmemory_"
// prefix); its cross-process lock is a SystemSemaphore of one unit under the same key. Failures
// return false (or null) and leave an error kind and text; nothing is thrown. One object is used by
// one thread at a time; a caller must hold the lock while it touches the bytes.

#include <cstdint>
#include <string>

#include "native_ipc.h"
#include "system_semaphore.h"

enum class SharedMemoryError : std::int32_t {
    NoError = 0,
    PermissionDenied = 1,
    InvalidSize = 2,
    KeyError = 3,
    AlreadyExists = 4,
    NotFound = 5,
    LockError = 6,
    OutOfResources = 7,
    UnknownError = 8,
};

class SharedMemoryPrivate {
public:
    enum AccessMode { ReadOnly = 0, ReadWrite = 1 };

    SharedMemoryPrivate();
    ~SharedMemoryPrivate();
    SharedMemoryPrivate(const SharedMemoryPrivate&) = delete;
    SharedMemoryPrivate& operator=(const SharedMemoryPrivate&) = delete;

    void setKey(const std::string& newKey);
    bool initKey();
    // Creates the segment and maps it. An existing segment gives false with AlreadyExists and
    // keeps a handle to it, so that a following attach maps it with its own size.
    bool create(std::int32_t requestedSize, AccessMode mode);
    bool attach(AccessMode mode);
    bool detach();
    nativeipc::Handle handle();
    bool cleanHandle();
    // Re-entrant: the holder's second tryLock succeeds without taking a second unit.
    bool tryLock(std::uint32_t timeoutMs);
    bool unlock();
    // Bytes that can be touched now: the mapped size, or less when the object has been shrunk
    // since (see nativeipc::queryMappingSize). Call with the lock held.
    [[nodiscard]] std::int32_t currentSize() const;
    void setErrorString(const std::string& function);

    void* memory = nullptr;
    std::int32_t size = 0;  // of the mapped region as the system reports it (whole pages)
    std::string key;
    std::string nativeKey;
    SharedMemoryError error = SharedMemoryError::NoError;
    std::string errorString;
    SystemSemaphore systemSemaphore;
    bool lockedByMe = false;
    nativeipc::Handle mappingHandle = nullptr;

private:
    void record(SharedMemoryError kind, const std::string& text);
};
