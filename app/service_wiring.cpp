#include "service_wiring.h"

#include "ai_ipc_handle.h"
#include "call_back_handle.h"
#include "process_thread.h"

AiIpcHandle* g_ipcHandle = nullptr;
ProcessThread* g_processThread = nullptr;

void wireService(const QString& receiveName, const QString& sendName, int size) {
    auto* callback = new callBackHandle;
    g_ipcHandle = new AiIpcHandle(receiveName, sendName, size, size);
    g_ipcHandle->setCallback(callback);
    // Connect to the client at once instead of waiting for its announcement.
    g_ipcHandle->setPipeWaitForPeer(false);
    (void)g_ipcHandle->start();
    // Deliveries reach the callback only from the event loop, which runs after this point.
    g_processThread = new ProcessThread(g_ipcHandle);
    g_processThread->start(QThread::InheritPriority);
}
