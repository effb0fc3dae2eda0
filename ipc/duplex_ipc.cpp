#include "duplex_ipc.h"

#include <algorithm>
#include <climits>

#include "ai_ipc_callback_handle.h"
#include "duplex_ipc_shared_memory_thread.h"
#include "duplex_local_pipe.h"
#include "protocol.h"

namespace {

constexpr int kPrefixLength = protocol::kLengthPrefixBytes;

QString segmentKey(const QString& channelName) {
    return QString::fromStdString(protocol::segmentKey(channelName.toStdString()));
}

QString pipeName(const QString& channelName) {
    return QString::fromStdString(protocol::pipeName(channelName.toStdString()));
}

}  // namespace

DuplexIPC::DuplexIPC(const QString& receiveName, const QString& sendName, int receiveSize,
                     int sendSize, QObject* parent)
    : QObject(parent),
      m_receiveName(receiveName),
      m_sendName(sendName),
      m_receiveSize(receiveSize),
      m_sendSize(sendSize) {}

// The transports go with this object as its children; their threads must have ended by then.
DuplexIPC::~DuplexIPC() {
    if (m_receiveSharedMemory) m_receiveSharedMemory->stop();
    if (m_sendSharedMemory) m_sendSharedMemory->stop();
}

void DuplexIPC::setCallback(AiIpcCallbackHandle* callback) { m_callback = callback; }

void DuplexIPC::setPipeWaitForPeer(bool flag) { m_pipeWaitForPeer = flag; }

bool DuplexIPC::start() {
    if (m_started) return false;
    m_started = true;

    m_receiveSharedMemory =
        new DuplexIPCSharedMemoryThread(segmentKey(m_receiveName), m_receiveSize, true, this);
    m_sendSharedMemory =
        new DuplexIPCSharedMemoryThread(segmentKey(m_sendName), m_sendSize, false, this);
    // Each transport logs its own failure; a direction that failed simply carries nothing.
    (void)m_receiveSharedMemory->init();
    (void)m_sendSharedMemory->init();
    // Before the threads start: the receiving thread asks the pipe about pending control lines.
    m_pipe = new DuplexLocalPipe(pipeName(m_receiveName), pipeName(m_sendName), this);
    m_receiveSharedMemory->start(QThread::InheritPriority);
    m_sendSharedMemory->start(QThread::InheritPriority);

    // Direct: the message is read from the segment on the transport's thread while it holds the
    // segment lock, instead of being copied for a hop through the main thread.
    connect(m_receiveSharedMemory, &DuplexIPCSharedMemoryThread::getDataFormMemory, this,
            &DuplexIPC::onMemoryData, Qt::DirectConnection);
    connect(m_receiveSharedMemory, &DuplexIPCSharedMemoryThread::msgOutput, this,
            &DuplexIPC::onMemoryMsg);
    connect(m_sendSharedMemory, &DuplexIPCSharedMemoryThread::msgOutput, this,
            &DuplexIPC::onMemoryMsg);
    connect(m_pipe, &DuplexLocalPipe::getData, this, &DuplexIPC::onPipeData);
    connect(m_pipe, &DuplexLocalPipe::event, this, &DuplexIPC::onPipeEvent);
    connect(m_pipe, &DuplexLocalPipe::outputMsg, this, &DuplexIPC::onPipeMsg);

    return m_pipe->start(m_pipeWaitForPeer);
}

bool DuplexIPC::controlInputPending() const { return !m_pipe || m_pipe->controlInputPending(); }

void DuplexIPC::readControlInput() {
    if (m_pipe) m_pipe->readControlInput();
}

bool DuplexIPC::send(const char* data, int size) { return send(data, size, nullptr, 0, size); }

bool DuplexIPC::send(const char* head, int headSize, const char* body, int bodySize, int size) {
    if (!m_sendSharedMemory) {
        report("m_sendSharedMemoryisNull");
        return false;
    }
    if (!m_sendSharedMemory->isRunning()) {
        report("m_sendSharedMemoryNotRun");
        return false;
    }
    report(QString("sendDataSize:%1").arg(size).toUtf8().constData());
    // A negative size, or one whose prefixed message cannot be counted, never fits a segment.
    if (size < 0 || size > INT_MAX - kPrefixLength || headSize < 0 || bodySize < 0 ||
        headSize > size - bodySize || (headSize > 0 && !head) || (bodySize > 0 && !body)) {
        return false;
    }
    char prefix[kPrefixLength];
    protocol::writeInt32(prefix, size);
    const DuplexIPCSharedMemoryThread::Piece pieces[] = {
        {prefix, kPrefixLength}, {head, headSize}, {body, bodySize}};
    return m_sendSharedMemory->sendData(pieces, 3, kPrefixLength + size);
}

// Runs on the receiving transport's thread while it holds the segment lock.
void DuplexIPC::onMemoryData() {
    if (!m_callback) return;
    const QByteArray& snapshot = m_receiveSharedMemory->receivedData();
    const int usable = std::min<int>(snapshot.size(), m_receiveSharedMemory->readableSize());
    int length = 0;
    const char* payload = protocol::messagePayload(snapshot.constData(), usable, &length);
    if (!payload) {
        // A client that writes a bad length usually keeps doing so: say it once per run.
        if (!m_badLengthReported) {
            report(QString("invalid message length:%1").arg(length).toUtf8().constData());
            m_badLengthReported = true;
        }
        return;
    }
    m_badLengthReported = false;
    m_callback->onData(payload, length);
}

void DuplexIPC::onMemoryMsg(QByteArray data) { report(data.constData()); }

void DuplexIPC::onPipeData(QByteArray data) {
    if (!m_callback) return;
    const std::string_view command =
        protocol::commandOf(std::string_view(data.constData(), data.size()));
    if (!command.empty()) m_callback->onCommand(command.data(), int(command.size()));
    // The text view of a line ends at its first NUL byte, if any.
    m_callback->onMessage(QString::fromUtf8(data.constData()).toUtf8().constData());
}

void DuplexIPC::onPipeEvent(int code, QByteArray data) {
    if (m_callback) m_callback->onEvent(code, data.constData(), data.size());
}

void DuplexIPC::onPipeMsg(QString msg) { report(msg.toUtf8().constData()); }

void DuplexIPC::report(const char* text) {
    if (m_callback) m_callback->onMessage(text);
}
