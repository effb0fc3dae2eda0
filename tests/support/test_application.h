#pragma once

// The Qt application object that the channel tests and the processing thread's test need for
// local sockets, queued signals and events, and a bounded wait that keeps the event loop turning.

#include <QByteArray>
#include <QLocalSocket>
#include <QString>
#include <functional>
#include <ostream>

// Creates the process's QCoreApplication on first use.
void ensureApplication();
// Processes events until `done` returns true or `timeoutMs` passed; returns done().
bool processEventsUntil(const std::function<bool()>& done, int timeoutMs);
// Waits until everything written to `socket` has left it, with the event loop turning: under
// Wine a named-pipe write completes only once the reading end, maybe in this thread, reads.
bool waitUntilWritten(QLocalSocket& socket, int timeoutMs);

// Readable test failures for Qt's strings.
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
