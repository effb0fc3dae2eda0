// A test build of the channel handle, of what the processing thread calls: it opens nothing and
// keeps every message handed to send in a SentMessages, so tests see what the processing thread
// sends. Test programs link this instead of facelume_ipc.

#include "ai_ipc_handle.h"
#include "sent_messages.h"

AiIpcHandle::AiIpcHandle(const QString&, const QString&, int, int) : m_ipc(nullptr) {
    SentMessages::instance().clear();
}

AiIpcHandle::~AiIpcHandle() = default;

bool AiIpcHandle::controlInputPending() const {
    return SentMessages::instance().controlInputPending;
}

void AiIpcHandle::readControlInput() {}

// Keeps the message as a client would read it, with zero bytes past head and body.
bool AiIpcHandle::send(const char* head, int headSize, const char* body, int bodySize, int size) {
    QByteArray message(head, headSize);
    message.append(body, bodySize);
    if (message.size() < size) message.append(QByteArray(size - message.size(), '\0'));
    SentMessages::instance().record(message);
    return true;
}
