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

void SentMessages::record(const QByteArray& message) {
    Lock lock(m_mutex);
    m_messages.append(message);
    m_sent.notify_all();
}

QList<QByteArray> SentMessages::messages() const {
    Lock lock(m_mutex);
    return m_messages;
}

bool SentMessages::waitForMessages(int count) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_sent.wait_for(lock, std::chrono::seconds(5),
                           [this, count] { return m_messages.size() >= count; });
}
