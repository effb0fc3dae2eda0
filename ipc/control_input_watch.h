#pragma once

// Tells any thread whether control lines may still be on their way to the main thread's handlers:
// bytes the system holds unread on a watched connection, or a socket event that the main thread
// is delivering. A frame that arrives while nothing is pending cannot overtake a control line
// the client wrote before it (the client writes the line before it announces the frame), so the
// frame need not wait for the main thread.
//
// Qt reads a socket into a buffer of its own while it delivers the socket's event, before any
// readyRead handler runs; so the main thread counts as busy from the start of such an event until
// its event loop is about to wait again. On Windows the pipe reader reads ahead by itself, and
// input always counts as pending there. Without an application object input counts as pending
// too. Lives on the main thread; pending() may be called from any thread.

#include <QObject>
#include <QVector>

#include <atomic>
#include <mutex>

class ControlInputWatch : public QObject {
public:
    explicit ControlInputWatch(QObject* parent = nullptr);

    // Main thread. unwatch comes before the descriptor is closed, or once the peer has gone.
    void watch(qintptr descriptor);
    void unwatch(qintptr descriptor);
    [[nodiscard]] bool pending() const;
    // False when the system cannot say, or cannot say for sure.
    static bool hasNoUnreadBytes(qintptr descriptor);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_usable = false;
    std::atomic<bool> m_deliveringSocketEvent{false};
    // A standard library lock, which ThreadSanitizer follows.
    mutable std::mutex m_mutex;
    QVector<qintptr> m_descriptors;
};
