#include "process_thread.h"

#include <QList>
#include <QMutexLocker>
#include <QString>

#include <algorithm>
#include <cstring>
#include <utility>

#include "ai_ipc_handle.h"
#include "mox_ai_effect.h"
#include "protocol.h"
#include "thread_sanitizer_hints.h"

namespace {

constexpr int kHeaderLength = protocol::kFrameHeaderBytes;

// Values travel as integers in hundredths.
float valueField(const QByteArray& field) {
    return static_cast<float>(field.toInt(nullptr, 10) / 100.0);
}

// Names travel as hex text; the name ends at the first decoded NUL byte. Empty means no name.
QByteArray nameField(const QByteArray& field) {
    QByteArray bytes = QByteArray::fromHex(field);
    const int end = bytes.indexOf('\0');
    if (end >= 0) bytes.truncate(end);
    return QString::fromUtf8(bytes).toUtf8();
}

char* nameOrNull(QByteArray& name) { return name.isEmpty() ? nullptr : name.data(); }

// Holds a mutex for one scope, and tells ThreadSanitizer about the order it gives.
class ScopedLock {
public:
    explicit ScopedLock(QMutex* mutex) : m_locker(mutex), m_mutex(mutex) {
        threadSanitizer::acquired(m_mutex);
    }
    ~ScopedLock() { threadSanitizer::releasing(m_mutex); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    QMutexLocker m_locker;
    QMutex* m_mutex;
};

}  // namespace

ProcessThread::ProcessThread(AiIpcHandle* ipc, QObject* parent) : QThread(parent), m_ipc(ipc) {
    registerEffect(protocol::kSkinWhite, modify_skin_white);
    registerEffect(protocol::kSkinSmooth, modify_skin_smooth);
    registerEffect(protocol::kEyeScale, modify_shape_eye_scale);
    registerEffect(protocol::kFaceThin, modify_shape_face_thin);
    registerEffect(protocol::kFilter, modify_filter);
    registerEffect(protocol::kSticker, modify_sticker);
    registerEffect(protocol::kLipstick, modify_makeup_lipstick);
    registerEffect(protocol::kCheeks, modify_makeup_cheeks);
    registerEffect(protocol::kEyebrow, modify_makeup_eyebrow);
}

ProcessThread::~ProcessThread() {
    if (!isRunning()) return;
    requestInterruption();
    {
        ScopedLock locker(&m_frameMutex);
        wakeLocked();
    }
    wait();
    threadSanitizer::acquired(this);
}

void ProcessThread::pushFrame(const char* data, int length) {
    if (!data || length < 0) length = 0;
    const bool onMainThread = QThread::currentThread() == thread();
    // Asked before the lock: the channel may take a lock of its own to answer.
    const bool controlPending = !onMainThread && (!m_ipc || m_ipc->controlInputPending());
    ScopedLock locker(&m_frameMutex);
    // Nothing waits for the main thread, nor can a control line sent before this frame: the
    // frame is the newest as it stands.
    if (onMainThread || (!controlPending && !m_handOverPending)) {
        if (length > 0) {
            storeFrameLocked(m_frame, data, length);
            m_frameFresh = true;
        }
        // A frame staged before this one is older.
        m_stagedFresh = false;
        wakeLocked();
        return;
    }
    // Stored at once, handed over by the main thread after the control lines it reads before,
    // as if the frame had come there.
    if (length > 0) {
        storeFrameLocked(m_staged, data, length);
        m_stagedFresh = true;
    }
    handOverLaterLocked();
}

void ProcessThread::handOverLaterLocked() {
    if (m_handOverPending) return;
    m_handOverPending = true;
    QMetaObject::invokeMethod(
        this, [this] { handOverStagedFrame(); }, Qt::QueuedConnection);
}

void ProcessThread::handOverStagedFrame() {
    // The event loop may run this before the socket event of a line written before the frame.
    // Read here, the line's command is pending before the frame is handed over.
    if (m_ipc) m_ipc->readControlInput();
    ScopedLock locker(&m_frameMutex);
    m_handOverPending = false;
    if (m_stagedFresh) {
        std::swap(m_staged, m_frame);
        m_stagedFresh = false;
        m_frameFresh = true;
    }
    wakeLocked();
}

// A frame buffer only grows. A frame shorter than the slot length overwrites the start of target;
// the rest keeps the bytes of the newest frame before it, wherever that one is.
void ProcessThread::storeFrameLocked(FrameBuffer& target, const char* data, int length) {
    const int slotLength = std::max(m_frameLength, length);
    const FrameBuffer& newest = m_stagedFresh ? m_staged : m_frameFresh ? m_frame : m_work;
    if (target.capacity < slotLength) {
        target.bytes.reset(new char[slotLength]());
        target.capacity = slotLength;
    }
    if (length < slotLength && &newest != &target) {
        std::memcpy(target.bytes.get() + length, newest.bytes.get() + length, slotLength - length);
    }
    std::memcpy(target.bytes.get(), data, length);
    m_frameLength = slotLength;
}

void ProcessThread::pushCommand(const char* data, int length) {
    if (!data || length <= 0) return;
    const QByteArray command(data, length);
    const int space = command.indexOf(' ');
    if (space <= 0) return;
    const int id = command.left(space).toInt(nullptr, 10);
    if (id < protocol::kFirstControlId || id > protocol::kLastControlId) return;

    {
        ScopedLock locker(&m_mutex);
        m_pendingCommands.insert(id, command.mid(space + 1));
    }
    // Woken once the main thread is done with the read that brought this line: the lines of
    // one read reach the engine in one pass, which sends one re-processed frame, not one a line.
    ScopedLock locker(&m_frameMutex);
    handOverLaterLocked();
}

void ProcessThread::run() {
    m_stopRequested = false;
    for (;;) {
        m_wake.acquire();
        applyPendingCommands();
        processFrame();
        if (m_stopRequested || isInterruptionRequested()) break;
    }
    // Pairs with the destructor, which waits for the end of this function.
    threadSanitizer::releasing(this);
}

// The lock stays held across the engine calls, so commands that arrive wait for them.
void ProcessThread::applyPendingCommands() {
    ScopedLock locker(&m_mutex);
    const QList<int> ids = m_pendingCommands.keys();
    for (const int id : ids) {
        const auto entry = m_effects.constFind(id);
        if (entry == m_effects.constEnd()) continue;
        (void)runEffectCommand(entry.value(), m_pendingCommands.value(id));
    }
    m_pendingCommands.clear();
}

void ProcessThread::processFrame() {
    int size = 0;
    {
        ScopedLock locker(&m_frameMutex);
        // Without a new frame the working buffer still holds the newest one.
        if (m_frameFresh) {
            std::swap(m_frame, m_work);
            m_frameFresh = false;
            // A staged frame may have grown the slot length past what this buffer holds.
            m_workLength = std::min(m_frameLength, m_work.capacity);
        }
        // A command can wake the thread while the first frame is still staged.
        if (m_workLength == 0) return;
        size = m_workLength;
    }

    // From here on newer frames may be stored in the slot while this one is processed.
    const char* frame = m_work.bytes.get();
    protocol::FrameHeader header;
    if (!protocol::readFrameHeader(frame, size, &header)) {
        if (!m_droppingFrames) {
            qWarning().noquote() << QStringLiteral(
                                        "ProcessThread: dropping frames whose width and height "
                                        "do not fit their %1 bytes; the client must send "
                                        "width, height and width * height * 3 pixel bytes")
                                        .arg(size);
        }
        m_droppingFrames = true;
        return;
    }
    m_droppingFrames = false;

    unsigned char* output = nullptr;
    unsigned char* input = reinterpret_cast<unsigned char*>(m_work.bytes.get() + kHeaderLength);
    if (process(header.width, header.height, input, &output) == 0 || !output) return;
    if (m_ipc) {
        (void)m_ipc->send(frame, kHeaderLength, reinterpret_cast<const char*>(output),
                          header.pixelBytes, size);
    }
}

int ProcessThread::runEffectCommand(const EffectEntry& entry, QByteArray payload) {
    const QList<QByteArray> fields = payload.split(protocol::kFieldSeparator);
    switch (entry.kind) {
        case EffectKind::Float:
            return reinterpret_cast<int (*)(float)>(entry.function)(valueField(fields.at(0)));
        case EffectKind::TextFloat: {
            if (fields.size() < 2) return 0;
            QByteArray name = nameField(fields.at(0));
            const auto function = reinterpret_cast<int (*)(char*, float)>(entry.function);
            if (name.isEmpty()) return function(nullptr, 0.0f);
            return function(name.data(), valueField(fields.at(1)));
        }
        case EffectKind::Text: {
            QByteArray name = nameField(fields.at(0));
            return reinterpret_cast<int (*)(char*)>(entry.function)(nameOrNull(name));
        }
        case EffectKind::None:
            break;
    }
    return 0;
}

// REQUIRES: m_frameMutex held. Keeps the semaphore's count at 0 or 1.
void ProcessThread::wakeLocked() {
    if (m_wake.available() < 1) m_wake.release();
}

void ProcessThread::reportUnknownEffectType() { qDebug() << "eeeeeeeeeeeeeeerror" << '\n'; }
