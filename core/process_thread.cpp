#include "process_thread.h"

#include <QList>
#include <QMutexLocker>
#include <QString>

#include <cstdint>
#include <cstring>

#include "ai_ipc_handle.h"
#include "mox_ai_effect.h"
#include "thread_sanitizer_hints.h"

namespace {

constexpr int kFirstEffectId = 0;
constexpr int kLastEffectId = 8;
constexpr int kHeaderLength = 8;
constexpr int kBytesPerPixel = 3;

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

struct FrameHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int pixelBytes = 0;
};

// True when the header's pixels lie within the size bytes the engine may read.
bool readHeader(const char* frame, int size, FrameHeader* header) {
    if (size < kHeaderLength) return false;
    std::memcpy(&header->width, frame, 4);
    std::memcpy(&header->height, frame + 4, 4);
    if (header->width <= 0 || header->height <= 0) return false;
    // Divide instead of multiplying: width * height * 3 of two hostile values passes 64 bits.
    const int pixelRoom = size - kHeaderLength;
    if (header->width > pixelRoom / kBytesPerPixel / header->height) return false;
    header->pixelBytes = header->width * header->height * kBytesPerPixel;
    return true;
}

}  // namespace

char* ProcessThread::s_output = nullptr;
int ProcessThread::s_outputLength = 0;

ProcessThread::ProcessThread(AiIpcHandle* ipc, QObject* parent) : QThread(parent), m_ipc(ipc) {
    registerEffect(0, modify_skin_white);
    registerEffect(1, modify_skin_smooth);
    registerEffect(2, modify_shape_eye_scale);
    registerEffect(3, modify_shape_face_thin);
    registerEffect(4, modify_filter);
    registerEffect(5, modify_sticker);
    registerEffect(6, modify_makeup_lipstick);
    registerEffect(7, modify_makeup_cheeks);
    registerEffect(8, modify_makeup_eyebrow);
}

ProcessThread::~ProcessThread() {
    if (!isRunning()) return;
    requestInterruption();
    {
        ScopedLock locker(&m_mutex);
        wakeLocked();
    }
    wait();
    threadSanitizer::acquired(this);
}

void ProcessThread::pushFrame(const char* data, int length) {
    if (!data || length < 0) length = 0;
    ScopedLock locker(&m_mutex);
    if (m_frameLength < length) {
        m_frameLength = 0;
        m_frame.reset();
    }
    if (!m_frame && length > 0) {
        m_frame.reset(new char[length]());
        m_frameLength = length;
    }
    // A shorter frame overwrites the start of the slot; the rest keeps the earlier bytes.
    if (m_frame && length > 0) std::memcpy(m_frame.get(), data, length);
    wakeLocked();
}

void ProcessThread::pushCommand(const char* data, int length) {
    if (!data || length <= 0) return;
    const QByteArray command(data, length);
    const int space = command.indexOf(' ');
    if (space <= 0) return;
    const int id = command.left(space).toInt(nullptr, 10);
    if (id < kFirstEffectId || id > kLastEffectId) return;

    ScopedLock locker(&m_mutex);
    m_pendingCommands.insert(id, command.mid(space + 1));
    wakeLocked();
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

// The lock stays held across the engine calls, so arrivals wait for them.
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
    {
        ScopedLock locker(&m_mutex);
        if (m_frameLength == 0) return;
        if (m_workLength < m_frameLength) {
            m_workLength = 0;
            m_work.reset();
        }
        if (!m_work) {
            m_work.reset(new char[m_frameLength]());
            m_workLength = m_frameLength;
        }
        std::memcpy(m_work.get(), m_frame.get(), m_frameLength);
    }

    // From here on the main thread may store newer frames while this one is processed.
    const int size = m_workLength;
    FrameHeader header;
    if (!readHeader(m_work.get(), size, &header)) {
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

    ensureOutputLength(size);
    unsigned char* output = nullptr;
    unsigned char* input = reinterpret_cast<unsigned char*>(m_work.get() + kHeaderLength);
    if (process(header.width, header.height, input, &output) == 0 || !output) return;
    std::memcpy(s_output, m_work.get(), kHeaderLength);
    std::memcpy(s_output + kHeaderLength, output, header.pixelBytes);
    if (m_ipc) (void)m_ipc->send(s_output, size);
}

int ProcessThread::runEffectCommand(const EffectEntry& entry, QByteArray payload) {
    const QList<QByteArray> fields = payload.split('|');
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

// REQUIRES: m_mutex held. Keeps the semaphore's count at 0 or 1.
void ProcessThread::wakeLocked() {
    if (m_wake.available() < 1) m_wake.release();
}

void ProcessThread::ensureOutputLength(int size) {
    if (s_output && s_outputLength == size) return;
    delete[] s_output;
    s_output = new char[size]();
    s_outputLength = size;
}

void ProcessThread::reportUnknownEffectType() { qDebug() << "eeeeeeeeeeeeeeerror" << Qt::endl; }
