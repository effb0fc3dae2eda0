#pragma once

// The counting semaphore through which one side of a channel tells the other that a message is
// waiting: opened (created when missing) under its native name with an initial count, never
// reset. Every process that opens the same name reaches the same semaphore; the system object
// goes away with the last handle to it in any process. The channel's names, and so this one,
// come from the protocol (protocol::notificationNativeName). Free of Qt, for the service and the
// client SDK alike. One thread may wait in acquire while others call release.

#include <atomic>
#include <cstdint>
#include <string>

#include "native_ipc.h"

class NotificationSemaphore {
public:
    enum class Wait { Acquired, TimedOut, Failed };

    explicit NotificationSemaphore(const std::string& nativeName, int initialValue = 0);
    ~NotificationSemaphore();
    NotificationSemaphore(const NotificationSemaphore&) = delete;
    NotificationSemaphore& operator=(const NotificationSemaphore&) = delete;

    [[nodiscard]] bool isOpen() const { return m_handle != nullptr; }
    // Takes one unit, waiting without limit. False when the semaphore cannot be used.
    bool acquire();
    // Takes one unit, waiting at most timeoutMs milliseconds.
    [[nodiscard]] Wait tryAcquire(std::uint32_t timeoutMs);
    // Takes every unit available now, without waiting; returns how many it took.
    int takeAll();
    // Gives back n (> 0) units at once.
    bool release(int n = 1);
    // The system error of the last failure (nativeipc codes), 0 when nothing failed.
    [[nodiscard]] std::uint32_t error() const { return m_error; }

private:
    nativeipc::Handle m_handle = nullptr;
    // Written by the waiting thread and by releasing threads alike.
    std::atomic<std::uint32_t> m_error{nativeipc::kErrorSuccess};
};
