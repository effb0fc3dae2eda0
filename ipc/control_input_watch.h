#pragma once

// Tells any thread whether control lines may still be on their way to the main thread's handlers:
// a connection that waits in the watched listener's queue, bytes the system holds unread on a
// watched connection, or a socket event that the main thread is delivering. A frame that arrives
// while nothing is pending cannot overtake a control line the client wrote before it (the client
// writes the line before it announces the frame), so the frame need not wait for the main thread.
//
// Qt reads a socket into a buffer of its own while it delivers the socket's event, before any
// readyRead handler runs; so the main thread counts as busy from the start of such an event until
// its event loop is about to wait again. On Windows the pipe reader reads ahead by itself and a
// waiting connection cannot be seen, so input always counts as pending there. Without an
// application object input counts as pending too.
//
// A connection taken from the listener's queue outside of the listener's own socket event leaves
// that event, when the event loop had already seen it, with nothing to take: Qt's server would
// then wait in accept until the next client came, or close itself where the accept fails. The
// watch drops the listener's socket events while its queue is empty. Lives on the main thread;
// pending() may be called from any thread.

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
    // Main thread: the listening socket whose queue counts, replacing any before it.
    void watchListener(qintptr descriptor);
    [[nodiscard]] bool pending() const;
    // False when the system cannot say, or cannot say for sure.
    static bool hasNoUnreadBytes(qintptr descriptor);
    static bool hasNoWaitingConnection(qintptr listener);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_usable = false;
    std::atomic<bool> m_deliveringSocketEvent{false};
    std::atomic<qintptr> m_listener{-1};
    // A standard library lock, which ThreadSanitizer follows.
    mutable std::mutex m_mutex;
    QVector<qintptr> m_descriptors;
};
