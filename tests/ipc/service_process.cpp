#include "service_process.h"

#include <cstdio>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>

#include <csignal>
#endif

#include "channel_client.h"

// A service that ended by itself has failed: its log goes to the test's output.
ServiceProcess::~ServiceProcess() {
    if (!m_killed && state() == QProcess::NotRunning) {
        std::fprintf(stderr, "facelume ended early (exit code %d):\n%s\n", exitCode(),
                     log().constData());
    } else if (!m_killed) {
        kill();
        waitForFinished(5000);
    }
    removeLeftovers();
}

bool ServiceProcess::launch(const QStringList& arguments) {
    m_names = arguments.mid(0, 2);
    m_killed = false;
    start(FACELUME_RECORDING_SERVICE, arguments);
    return waitForStarted(5000);
}

// A killed service removes nothing. Whoever opens its named objects after it and closes them as
// their last holder removes them; its socket files answer nobody and go too.
void ServiceProcess::removeLeftovers() {
    if (m_names.size() != 2) return;
    (void)ChannelClient(m_names[0], m_names[1], 4096).openSegments();
    for (const QString& name : m_names) removeStaleSocket(pipeName(name));
}

bool ServiceProcess::killNow() {
    m_killed = true;
    kill();
    return waitForFinished(5000);
}

QByteArray ServiceProcess::log() {
    waitForReadyRead(100);
    m_log += readAllStandardError();
    return m_log;
}

#ifdef Q_OS_LINUX
// Runs in the child between fork and exec: the service goes when the test process goes.
void ServiceProcess::setupChildProcess() { prctl(PR_SET_PDEATHSIG, SIGKILL); }
#endif
