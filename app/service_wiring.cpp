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
    // Frames reach the callback on the channel's receiving thread as soon as the channel runs,
    // so the processing thread exists first. It sends only after a frame or command came.
    g_processThread = new ProcessThread(g_ipcHandle);
    g_processThread->start(QThread::InheritPriority);
    (void)g_ipcHandle->start();
}
