// A test build of the channel handle: it opens nothing and records every call and every sent
// message in a SentMessages, so tests see what the processing thread and the wiring do with it.
// Test programs link this instead of facelume_ipc.

#include "ai_ipc_handle.h"
#include "sent_messages.h"

AiIpcHandle::AiIpcHandle(const QString& receiveName, const QString& sendName, int receiveSize,
                         int sendSize)
    : m_ipc(nullptr) {
    SentMessages::of(this)->recordCall(QStringLiteral("AiIpcHandle %1 %2 %3 %4")
                                           .arg(receiveName, sendName)
                                           .arg(receiveSize)
                                           .arg(sendSize));
}

AiIpcHandle::~AiIpcHandle() { SentMessages::remove(this); }

void AiIpcHandle::setCallback(AiIpcCallbackHandle* callback) {
    SentMessages::of(this)->recordCall(QStringLiteral("setCallback"), callback);
}

void AiIpcHandle::setPipeWaitForPeer(bool flag) {
    SentMessages::of(this)->recordCall(QStringLiteral("setPipeWaitForPeer %1").arg(flag));
}

bool AiIpcHandle::start() {
    SentMessages::of(this)->recordCall(QStringLiteral("start"));
    return true;
}

bool AiIpcHandle::send(const char* data, int size) {
    SentMessages::of(this)->recordSend(data, size);
    return true;
}

// Records the message as a client would read it, with zero bytes past head and body.
bool AiIpcHandle::send(const char* head, int headSize, const char* body, int bodySize, int size) {
    QByteArray message(head, headSize);
    message.append(body, bodySize);
    if (message.size() < size) message.append(QByteArray(size - message.size(), '\0'));
    SentMessages::of(this)->recordSend(message.constData(), message.size());
    return true;
}
