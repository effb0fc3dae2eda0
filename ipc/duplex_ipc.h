#pragma once

// The two-way channel to the client process: two shared-memory transports (frames in, frames
// out) and a local pipe (control lines), behind one callback. Outgoing messages get a 4-byte
// little-endian length prefix; pipe lines that start with "[CMD]" carry control commands.
// Owned by the main thread; send may be called from any thread once start has run.

#include <QObject>
#include <QString>

class AiIpcCallbackHandle;

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

private:
    void report(const char* text);

    QString m_receiveName;
    QString m_sendName;
    bool m_started = false;
    bool m_pipeWaitForPeer = false;
    int m_receiveSize;
    int m_sendSize;
    AiIpcCallbackHandle* m_callback = nullptr;
};
