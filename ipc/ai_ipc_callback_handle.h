#pragma once

// The interface through which the channel hands over everything it receives. The bodies are
// empty, so an implementation overrides only what it needs. Pointers are valid during the call
// only. onData comes on the channel's receiving thread while the client waits for the segment:
// copy what you keep and return. onCommand and onEvent come on the thread that owns the channel;
// onMessage comes on any of these and on whatever thread calls send, so an override must allow
// calls at once.

class AiIpcCallbackHandle {
public:
    virtual void onMessage(const char* text) { (void)text; }
    virtual void onData(const char* data, int length) { (void)data, (void)length; }
    virtual void onCommand(const char* data, int length) { (void)data, (void)length; }
    virtual void onEvent(int code, const char* data, int length) {
        (void)code, (void)data, (void)length;
    }
    virtual ~AiIpcCallbackHandle() = default;
};
