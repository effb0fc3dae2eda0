#include "sent_messages.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutexLocker>

namespace {

constexpr int kWaitMs = 5000;

QMutex g_registryMutex;

// Never destroyed: handles that live until the process ends keep their records reachable.
QHash<const AiIpcHandle*, SentMessages*>& registry() {
    static auto* handles = new QHash<const AiIpcHandle*, SentMessages*>;
    return *handles;
}

}  // namespace

SentMessages* SentMessages::of(const AiIpcHandle* handle) {
    QMutexLocker locker(&g_registryMutex);
    return registry().value(handle, nullptr);
}

void SentMessages::add(const AiIpcHandle* handle) {
    QMutexLocker locker(&g_registryMutex);
    registry().insert(handle, new SentMessages);
}

void SentMessages::remove(const AiIpcHandle* handle) {
    QMutexLocker locker(&g_registryMutex);
    delete registry().take(handle);
}

void SentMessages::recordCall(const QString& call) {
    QMutexLocker locker(&m_mutex);
    m_calls.append(call);
}

void SentMessages::recordSend(const char* data, int size) {
    QMutexLocker locker(&m_mutex);
    m_messages.append(QByteArray(data, size));
    m_sent.wakeAll();
}

void SentMessages::setCallback(AiIpcCallbackHandle* callback) {
    QMutexLocker locker(&m_mutex);
    m_callback = callback;
}

QStringList SentMessages::calls() const {
    QMutexLocker locker(&m_mutex);
    return m_calls;
}

QList<QByteArray> SentMessages::messages() const {
    QMutexLocker locker(&m_mutex);
    return m_messages;
}

AiIpcCallbackHandle* SentMessages::callback() const {
    QMutexLocker locker(&m_mutex);
    return m_callback;
}

bool SentMessages::waitForMessages(int count) const {
    QMutexLocker locker(&m_mutex);
    QDeadlineTimer deadline(kWaitMs);
    while (m_messages.size() < count) {
        if (!m_sent.wait(&m_mutex, deadline)) break;
    }
    return m_messages.size() >= count;
}
