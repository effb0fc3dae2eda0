#pragma once

// Turns the system's requests to stop (SIGTERM, SIGINT and SIGHUP on Linux; Ctrl+C, Ctrl+Break
// and console close on Windows) into a normal end of the event loop, so that the service can shut
// its channel down and remove its named objects instead of dying with them in place. Create one
// on the main thread after the application object; it must outlive the event loop.

#include <QObject>

class StopSignalsPrivate;

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the handlers could not be installed; the service then still runs, but a stop
    // request ends it the hard way.
    bool isInstalled() const;

private:
    StopSignalsPrivate* d;
};
