#pragma once

// The two-way channel to the client process: two shared-memory transports (frames in, frames
// out) and a local pipe (control lines), behind one callback. Outgoing messages get a 4-byte
// little-endian length prefix; pipe lines that start with "[CMD]" carry control commands.
// Owned by the main thread. Received messages reach onData on the receiving transport's thread,
// straight from the segment while its lock is held; pipe lines and events reach the callback on
// the main thread; onMessage comes on any of these and on whatever thread calls send. send may be
// called from any thread once start has run. Destroying the channel stops its transport threads.

#include <QByteArray>
#include <QObject>
#include <QString>

class AiIpcCallbackHandle;
class DuplexIPCSharedMemoryThread;
class DuplexLocalPipe;

class DuplexIPC : public QObject {
    Q_OBJECT
public:
    DuplexIPC(const QString& receiveName, const QString& sendName, int receiveSize, int sendSize,
              QObject* parent = nullptr);
    ~DuplexIPC() override;

    void setCallback(AiIpcCallbackHandle* callback);
    void setPipeWaitForPeer(bool flag);
    bool start();
    bool send(const char* data, int size);
    // Sends a message of size payload bytes that begins with head and then body, without
    // gathering them first; bytes past the two keep whatever the segment held.
    bool send(const char* head, int headSize, const char* body, int bodySize, int size);
    // Any thread once start has run: control lines may still be on their way to the callback.
    [[nodiscard]] bool controlInputPending() const;
    // Main thread: control lines that wait unread reach the callback now.
    void readControlInput();

private:
    void onMemoryData();
    void onMemoryMsg(QByteArray data);
    void onPipeData(QByteArray data);
    void onPipeEvent(int code, QByteArray data);
    void onPipeMsg(QString msg);
    void report(const char* text);

    DuplexIPCSharedMemoryThread* m_receiveSharedMemory = nullptr;
    DuplexIPCSharedMemoryThread* m_sendSharedMemory = nullptr;
    DuplexLocalPipe* m_pipe = nullptr;
    QString m_receiveName;
    QString m_sendName;
    bool m_started = false;
    bool m_pipeWaitForPeer = false;
    int m_receiveSize;
    int m_sendSize;
    AiIpcCallbackHandle* m_callback = nullptr;
    // Set while received messages keep carrying a bad length, so that a run of them is reported
    // once.
    bool m_badLengthReported = false;
};
