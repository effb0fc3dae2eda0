#include "sent_messages.h"

#include <QHash>

#include <chrono>

namespace {

constexpr int kWaitMs = 5000;

std::mutex g_registryMutex;

// Never destroyed: handles that live until the process ends keep their records reachable.
QHash<const AiIpcHandle*, SentMessages*>& registry() {
    static auto* handles = new QHash<const AiIpcHandle*, SentMessages*>;
    return *handles;
}

}  // namespace

SentMessages* SentMessages::of(const AiIpcHandle* handle) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return registry().value(handle, nullptr);
}

void SentMessages::add(const AiIpcHandle* handle) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    registry().insert(handle, new SentMessages);
}

void SentMessages::remove(const AiIpcHandle* handle) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    delete registry().take(handle);
}

void SentMessages::recordCall(const QString& call) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_calls.append(call);
}

void SentMessages::recordSend(const char* data, int size) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_messages.append(QByteArray(data, size));
    m_sent.notify_all();
}

void SentMessages::setCallback(AiIpcCallbackHandle* callback) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_callback = callback;
}

QStringList SentMessages::calls() const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_calls;
}

QList<QByteArray> SentMessages::messages() const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_messages;
}

AiIpcCallbackHandle* SentMessages::callback() const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_callback;
}

bool SentMessages::waitForMessages(int count) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_sent.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                           [this, count] { return m_messages.size() >= count; });
}
