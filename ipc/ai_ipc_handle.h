#pragma once

// The handle through which the service creates, configures, starts and uses its two-way channel.
// Calling order: constructor, setCallback, setPipeWaitForPeer, start, then any number of send
// calls. send may be called from any thread; everything else runs on the thread that owns the
// channel.

#include <QString>

class AiIpcCallbackHandle;
class DuplexIPC;

class AiIpcHandle {
public:
    AiIpcHandle(const QString& receiveName, const QString& sendName, int receiveSize, int sendSize);
    ~AiIpcHandle();
    AiIpcHandle(const AiIpcHandle&) = delete;
    AiIpcHandle& operator=(const AiIpcHandle&) = delete;

    void setCallback(AiIpcCallbackHandle* callback);
    void setPipeWaitForPeer(bool flag);
    bool start();
    bool send(const char* data, int size);
    // One message of size bytes that begins with head and then body: the channel writes the two
    // where the message goes without joining them first. Bytes past them have no meaning.
    bool send(const char* head, int headSize, const char* body, int bodySize, int size);
    // Any thread: control lines the client wrote may not have reached the callback yet.
    [[nodiscard]] bool controlInputPending() const;
    // Main thread: control lines the client wrote and the channel has not read yet reach the
    // callback now, without waiting for more.
    void readControlInput();

private:
    DuplexIPC* m_ipc;
};
