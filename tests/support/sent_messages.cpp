#include "sent_messages.h"

#include <chrono>
#include <map>
#include <memory>

namespace {

using Lock = std::lock_guard<std::mutex>;

std::mutex g_registryMutex;
// Never destroyed: handles that live until the process ends keep their records reachable.
auto& g_registry = *new std::map<const AiIpcHandle*, std::unique_ptr<SentMessages>>;

}  // namespace

SentMessages* SentMessages::of(const AiIpcHandle* handle) {
    Lock lock(g_registryMutex);
    std::unique_ptr<SentMessages>& record = g_registry[handle];
    if (!record) record = std::make_unique<SentMessages>();
    return record.get();
}

void SentMessages::remove(const AiIpcHandle* handle) {
    Lock lock(g_registryMutex);
    g_registry.erase(handle);
}

void SentMessages::recordCall(const QString& call, AiIpcCallbackHandle* callback) {
    Lock lock(m_mutex);
    m_calls.append(call);
    if (callback) m_callback = callback;
}

void SentMessages::recordSend(const char* data, int size) {
    Lock lock(m_mutex);
    m_messages.append(QByteArray(data, size));
    m_sent.notify_all();
}

QStringList SentMessages::calls() const {
    Lock lock(m_mutex);
    return m_calls;
}

QList<QByteArray> SentMessages::messages() const {
    Lock lock(m_mutex);
    return m_messages;
}

AiIpcCallbackHandle* SentMessages::callback() const {
    Lock lock(m_mutex);
    return m_callback;
}

bool SentMessages::waitForMessages(int count) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_sent.wait_for(lock, std::chrono::seconds(5),
                           [this, count] { return m_messages.size() >= count; });
}
