#pragma once

// The worker that turns received frames into processed frames.
//
// pushFrame (any thread) and pushCommand (the main thread) keep only the newest frame (the slot
// only grows: its length is the largest frame length received) and only the latest command per
// effect id, and wake the thread; any number of arrivals between two passes wakes it for one pass.
// A frame pushed on another thread than the main thread (the channel's receiving thread) goes
// straight into the slot when the channel has no control input pending and nothing waits for the
// main thread. Otherwise it is stored at once into a staging buffer, and the main thread's event
// loop hands it over by a swap: after the control lines that it read before the frame came, and
// after those still unread then (it reads them first), so that controls sent before a frame apply
// to it. A command, too, wakes the thread through the main thread's event loop,
// once the read that brought it is done, so the lines of one read share one pass. Each pass of
// run() applies the pending commands to the engine, then runs the newest frame through the engine's
// process and sends its 8-byte header followed by width * height * 3 processed bytes through the
// channel handle (the message has the slot's length). Once the thread runs, every engine call comes
// from it.
//
// A frame is copied once, into the slot (or the staging buffer); the thread then takes the slot
// over by swapping it with its working buffer, so a frame can arrive while another one is
// processed, and the engine's output goes to the channel as it is. Frames never wait for the
// engine's command calls. A command re-processes the working buffer, which relies on the engine
// only reading its input.
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

    // Stores a frame: width and height as 32-bit integers, then the pixels. Any thread.
    void pushFrame(const char* data, int length);
    // Stores a control command "<id> <payload>" for ids 0 to 8; anything else is dropped. Main
    // thread, whose event loop then wakes the thread.
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
    // A frame buffer that only grows.
    struct FrameBuffer {
        std::unique_ptr<char[]> bytes;
        int capacity = 0;
    };

    void applyPendingCommands();
    void processFrame();
    // Main thread: makes the staged frame the newest one and wakes the thread.
    void handOverStagedFrame();
    // Has the main thread run handOverStagedFrame once it is done with its current event.
    // REQUIRES: m_frameMutex held.
    void handOverLaterLocked();
    // REQUIRES: m_frameMutex held.
    void storeFrameLocked(FrameBuffer& target, const char* data, int length);
    // REQUIRES: m_frameMutex held.
    void wakeLocked();
    static void reportUnknownEffectType();

    bool m_stopRequested = false;
    QSemaphore m_wake{0};
    // Guards the pending commands; held across the engine calls that apply them.
    QMutex m_mutex;
    QHash<int, QByteArray> m_pendingCommands;
    AiIpcHandle* m_ipc;
    QHash<int, EffectEntry> m_effects;
    // Guards the slot, the swap of slot and working buffer, and the wake-up; held only briefly.
    QMutex m_frameMutex;
    FrameBuffer m_frame;
    // The slot's length: the largest frame length received.
    int m_frameLength = 0;
    // The slot holds a frame that the working buffer does not have yet.
    bool m_frameFresh = false;
    // A frame from another thread, waiting for the main thread to hand it over.
    FrameBuffer m_staged;
    bool m_stagedFresh = false;
    bool m_handOverPending = false;
    // Read by the processing thread without the lock; swapped with m_frame under it.
    FrameBuffer m_work;
    // Processing thread only: the bytes of m_work that hold the frame being processed.
    int m_workLength = 0;
    // Processing thread only: true while frames that do not fit their header keep arriving.
    bool m_droppingFrames = false;
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
