#pragma once

// The service's receiver of what the channel delivers: frames go to the processing thread's
// pushFrame, control commands to its pushCommand. Diagnostic texts and pipe events are ignored.
// Frames come on the channel's receiving thread, the rest on the main thread; until the
// processing thread exists, everything is dropped.

#include "ai_ipc_callback_handle.h"

class callBackHandle : public AiIpcCallbackHandle {
public:
    void onData(const char* data, int length) override;
    void onCommand(const char* data, int length) override;
};
