#pragma once

// A named, system-wide counting semaphore. Two objects (in one process or two) given the same key
// share one kernel semaphore, created with the initial count by whoever comes first. Failures are
// recorded as an error kind and text; nothing is thrown. An empty key means "no semaphore": every
// operation fails quietly. One object is used by one thread at a time.

#include <cstdint>
#include <string>

#include "native_ipc.h"

enum class SystemSemaphoreError : std::int32_t {
    NoError = 0,
    PermissionDenied = 1,
    KeyError = 2,
    AlreadyExists = 3,
    NotFound = 4,
    OutOfResources = 5,
    UnknownError = 6,
};

class SystemSemaphore {
public:
    // Both modes create the semaphore if it is missing and open it otherwise; Open lets setKey
    // skip its work when the key is unchanged.
    enum AccessMode { Open = 0, Create = 1 };

    SystemSemaphore();
    ~SystemSemaphore();
    SystemSemaphore(const SystemSemaphore&) = delete;
    SystemSemaphore& operator=(const SystemSemaphore&) = delete;

    // A semaphore used as a lock passes maximumCount 1 (see nativeipc::createSemaphore).
    void setKey(const std::string& key, std::int32_t initialValue, AccessMode mode,
                std::int32_t maximumCount = nativeipc::kMaximumSemaphoreCount);
    // The open semaphore, created or opened on first use; null for an empty key or on failure.
    nativeipc::Handle handle(AccessMode mode);
    // count > 0 gives back count units; count <= 0 takes one unit, waiting at most timeoutMs
    // (0xFFFFFFFF: without limit).
    bool modifySemaphore(std::int32_t count, std::uint32_t timeoutMs);
    void cleanHandle();
    void clearError();
    void setErrorString(const std::string& function);

    SystemSemaphoreError error() const { return m_error; }
    const std::string& errorString() const { return m_errorString; }
    const std::string& key() const { return m_key; }
    const std::string& nativeKey() const { return m_nativeKey; }

private:
    std::string m_key;
    std::string m_nativeKey;
    std::int32_t m_initialValue = 0;
    std::int32_t m_maximumCount = nativeipc::kMaximumSemaphoreCount;
    nativeipc::Handle m_semaphore = nullptr;
    SystemSemaphoreError m_error = SystemSemaphoreError::NoError;
    std::string m_errorString;
};
