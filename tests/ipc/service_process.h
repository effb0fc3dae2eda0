#pragma once

// The facelume service built with the recording engine, run as a child process for the channel
// tests. On Linux the child dies with the test process, so a crashed test leaves no service
// behind; the destructor kills it and removes what it left. The engine's calls go to an
// EngineLog, which names its file in this process's environment: one service at a time.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "engine_log.h"

class ServiceProcess : public QProcess {
public:
    ~ServiceProcess() override;

    bool launch(const QStringList& arguments);
    // Kills the service as a client (or a crash) would, and waits for it to go.
    bool killNow();
    // The engine's calls.
    const EngineLog& engine() const { return m_engineLog; }
    // All the service wrote to its standard error so far.
    QByteArray log();

protected:
#ifdef Q_OS_LINUX
    void setupChildProcess() override;
#endif

private:
    void removeLeftovers();

    EngineLog m_engineLog;
    QStringList m_names;
    QByteArray m_log;
    bool m_killed = false;
};
