#pragma once

// Every message that the test build of the channel handle (test_ipc_handle.cpp) was handed to
// send since the newest handle was made: a test process has one handle at a time. Thread-safe:
// send comes from the processing thread.

#include <QByteArray>
#include <QList>

#include <atomic>
#include <condition_variable>
#include <mutex>

class SentMessages {
public:
    // The one record, emptied by each new handle.
    static SentMessages& instance();
    void clear();

    void record(const QByteArray& message);
    QList<QByteArray> messages() const;
    // Waits (5 s at most) until count messages were sent; false when they did not come.
    [[nodiscard]] bool waitForMessages(int count) const;

    // What the handle answers when asked whether control input is pending.
    std::atomic<bool> controlInputPending{false};

private:
    // Standard library locks, which ThreadSanitizer follows.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_sent;
    QList<QByteArray> m_messages;
};
