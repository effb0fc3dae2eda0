#include "ai_ipc_handle.h"

#include "duplex_ipc.h"

AiIpcHandle::AiIpcHandle(const QString& receiveName, const QString& sendName, int receiveSize,
                         int sendSize)
    : m_ipc(new DuplexIPC(receiveName, sendName, receiveSize, sendSize, nullptr)) {}

AiIpcHandle::~AiIpcHandle() { delete m_ipc; }

void AiIpcHandle::setCallback(AiIpcCallbackHandle* callback) { m_ipc->setCallback(callback); }

void AiIpcHandle::setPipeWaitForPeer(bool flag) { m_ipc->setPipeWaitForPeer(flag); }

bool AiIpcHandle::start() { return m_ipc->start(); }

bool AiIpcHandle::controlInputPending() const { return m_ipc->controlInputPending(); }

void AiIpcHandle::readControlInput() { m_ipc->readControlInput(); }

bool AiIpcHandle::send(const char* data, int size) { return m_ipc->send(data, size); }

bool AiIpcHandle::send(const char* head, int headSize, const char* body, int bodySize, int size) {
    return m_ipc->send(head, headSize, body, bodySize, size);
}
