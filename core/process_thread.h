#pragma once

// The worker that turns received frames into processed frames.
//
// pushFrame and pushCommand run on the main thread. They keep only the newest frame (the slot
// only grows: its length is the largest frame length received) and only the latest command per
// effect id, and wake the thread; any number of arrivals between two passes wakes it for one pass.
// Each pass of run() applies the pending commands to the engine, then runs the newest frame
// through the engine's process and sends its 8-byte header followed by width * height * 3
// processed bytes through the channel handle (the message has the slot's length). Once the thread
// runs, every engine call comes from it.
//
// A frame whose header does not fit it (shorter than 8 bytes, width or height not positive,
// width * height * 3 beyond 32 bits, or 8 + width * height * 3 beyond the stored length) never
// reaches the engine and gives no output; one warning line marks the start of such a run.

#include <QByteArray>
#include <QDebug>
#include <QHash>
#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <memory>
#include <type_traits>

#include "effect_entry.h"

class AiIpcHandle;

class ProcessThread : public QThread {
public:
    // ipc may be null, in which case nothing is sent. It is not owned.
    explicit ProcessThread(AiIpcHandle* ipc, QObject* parent = nullptr);
    // Stops a running thread after its current pass and waits for it. The service never
    // destroys its thread; this keeps short-lived owners (tests, tools) well-behaved.
    ~ProcessThread() override;
    ProcessThread(const ProcessThread&) = delete;
    ProcessThread& operator=(const ProcessThread&) = delete;

    // Stores a frame: width and height as 32-bit integers, then the pixels. Main thread.
    void pushFrame(const char* data, int length);
    // Stores a control command "<id> <payload>" for ids 0 to 8; anything else is dropped.
    void pushCommand(const char* data, int length);

protected:
    void run() override;

    // Enters function under id with the kind its type names (None for any other type).
    template <typename F>
    void registerEffect(int id, F function);
    // Parses payload by the entry's kind and calls its function. Returns the function's result,
    // or 0 when nothing was called.
    static int runEffectCommand(const EffectEntry& entry, QByteArray payload);

private:
    void applyPendingCommands();
    void processFrame();
    // REQUIRES: m_mutex held.
    void wakeLocked();
    void ensureOutputLength(int size);
    static void reportUnknownEffectType();

    bool m_stopRequested = false;
    QSemaphore m_wake{0};
    QMutex m_mutex;
    QHash<int, QByteArray> m_pendingCommands;
    AiIpcHandle* m_ipc;
    QHash<int, EffectEntry> m_effects;
    std::unique_ptr<char[]> m_frame;
    int m_frameLength = 0;
    std::unique_ptr<char[]> m_work;
    int m_workLength = 0;
    // Processing thread only: true while frames that do not fit their header keep arriving.
    bool m_droppingFrames = false;

    // One output buffer for the whole process, reused from pass to pass and never freed while
    // the service runs. Processing thread only.
    static char* s_output;
    static int s_outputLength;
};

template <typename F>
void ProcessThread::registerEffect(int id, F function) {
    EffectEntry entry;
    if constexpr (std::is_same_v<F, int (*)(float)>) {
        entry.kind = EffectKind::Float;
    } else if constexpr (std::is_same_v<F, int (*)(char*, float)>) {
        entry.kind = EffectKind::TextFloat;
    } else if constexpr (std::is_same_v<F, int (*)(char*)>) {
        entry.kind = EffectKind::Text;
    } else {
        reportUnknownEffectType();
    }
    if constexpr (std::is_pointer_v<F> && std::is_function_v<std::remove_pointer_t<F>>) {
        entry.function = reinterpret_cast<EffectEntry::Function>(function);
    }
    m_effects.insert(id, entry);
}
