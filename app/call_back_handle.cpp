#include "call_back_handle.h"

#include "process_thread.h"
#include "service_wiring.h"

void callBackHandle::onData(const char* data, int length) {
    if (g_processThread) g_processThread->pushFrame(data, length);
}

void callBackHandle::onCommand(const char* data, int length) {
    if (g_processThread) g_processThread->pushCommand(data, length);
}
