#include "service_wiring.h"

#include <QCoreApplication>
#include <QEvent>

#include "ai_ipc_handle.h"
#include "call_back_handle.h"
#include "process_thread.h"

AiIpcHandle* g_ipcHandle = nullptr;
ProcessThread* g_processThread = nullptr;

namespace {
callBackHandle* g_callback = nullptr;
}

void wireService(const QString& receiveName, const QString& sendName, int size) {
    g_callback = new callBackHandle;
    g_ipcHandle = new AiIpcHandle(receiveName, sendName, size, size);
    g_ipcHandle->setCallback(g_callback);
    // Connect to the client at once instead of waiting for its announcement.
    g_ipcHandle->setPipeWaitForPeer(false);
    // Frames reach the callback on the channel's receiving thread as soon as the channel runs,
    // so the processing thread exists first. It sends only after a frame or command came.
    g_processThread = new ProcessThread(g_ipcHandle);
    g_processThread->start(QThread::InheritPriority);
    (void)g_ipcHandle->start();
}

void unwireService() {
    // The thread first: it sends through the channel until it has ended.
    delete g_processThread;
    g_processThread = nullptr;
    delete g_ipcHandle;
    g_ipcHandle = nullptr;
    delete g_callback;
    g_callback = nullptr;
    // The channel hands its segment objects to deleteLater; with the event loop over, only an
    // explicit pass deletes them, and only then do they close their system objects.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
