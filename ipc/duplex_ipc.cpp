#include "duplex_ipc.h"

#include "ai_ipc_callback_handle.h"

DuplexIPC::DuplexIPC(const QString& receiveName, const QString& sendName, int receiveSize,
                     int sendSize, QObject* parent)
    : QObject(parent),
      m_receiveName(receiveName),
      m_sendName(sendName),
      m_receiveSize(receiveSize),
      m_sendSize(sendSize) {}

DuplexIPC::~DuplexIPC() = default;

void DuplexIPC::setCallback(AiIpcCallbackHandle* callback) { m_callback = callback; }

void DuplexIPC::setPipeWaitForPeer(bool flag) { m_pipeWaitForPeer = flag; }

// The transports arrive with the channel; until then start only records that it ran.
bool DuplexIPC::start() {
    if (m_started) return false;
    m_started = true;
    return true;
}

bool DuplexIPC::send(const char* data, int size) {
    (void)data, (void)size;
    report("m_sendSharedMemoryisNull");
    return false;
}

void DuplexIPC::report(const char* text) {
    if (m_callback) m_callback->onMessage(text);
}
