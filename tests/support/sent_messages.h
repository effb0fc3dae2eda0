#pragma once

// What the service did with a test build's channel handle: the handle's own calls (as text), the
// callback it was given and every message handed to send. The test implementation of AiIpcHandle
// (test_ipc_handle.cpp) creates one SentMessages per handle; tests find it with of(). Thread-safe:
// send comes from the processing thread.

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <condition_variable>
#include <mutex>

class AiIpcCallbackHandle;
class AiIpcHandle;

class SentMessages {
public:
    // The record of handle, created on first use; remove forgets it.
    static SentMessages* of(const AiIpcHandle* handle);
    static void remove(const AiIpcHandle* handle);

    // Records call; a callback given along is kept as the handle's callback.
    void recordCall(const QString& call, AiIpcCallbackHandle* callback = nullptr);
    void recordSend(const char* data, int size);

    QStringList calls() const;
    QList<QByteArray> messages() const;
    AiIpcCallbackHandle* callback() const;
    // Waits (5 s at most) until count messages were sent; false when they did not come.
    [[nodiscard]] bool waitForMessages(int count) const;

private:
    // Standard library locks, which ThreadSanitizer follows.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_sent;
    QStringList m_calls;
    QList<QByteArray> m_messages;
    AiIpcCallbackHandle* m_callback = nullptr;
};
