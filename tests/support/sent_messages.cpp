#include "sent_messages.h"

#include <chrono>

using Lock = std::lock_guard<std::mutex>;

// Never destroyed: the processing thread may still send while the process exits.
SentMessages& SentMessages::instance() {
    static SentMessages* const record = new SentMessages;
    return *record;
}

void SentMessages::clear() {
    Lock lock(m_mutex);
    m_messages.clear();
    controlInputPending = false;
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
