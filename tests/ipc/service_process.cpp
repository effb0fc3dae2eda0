#include "service_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>
#include <cstdio>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>

#include <csignal>
#endif

ServiceProcess::ServiceProcess() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("FACELUME_RECORDING_LOG", m_dir.filePath("engine.log"));
    setProcessEnvironment(environment);
    setProcessChannelMode(QProcess::SeparateChannels);
}

// A service that ended by itself has failed: its log goes to the test's output.
ServiceProcess::~ServiceProcess() {
    if (m_killed) return;
    if (state() == QProcess::NotRunning) {
        std::fprintf(stderr, "facelume ended early (exit code %d):\n%s\n", exitCode(),
                     log().constData());
        return;
    }
#ifdef Q_OS_LINUX
    // As a client stops it: the service then removes its socket and, closing last, the named
    // objects. (Windows' pipes and objects go with the process.)
    terminate();
    if (waitForFinished(5000)) return;
#endif
    kill();
    waitForFinished(5000);
}

bool ServiceProcess::launch(const QStringList& arguments) {
    start(FACELUME_RECORDING_SERVICE, arguments);
    return waitForStarted(5000);
}

bool ServiceProcess::killNow() {
    m_killed = true;
    kill();
    return waitForFinished(5000);
}

QStringList ServiceProcess::engineCalls() const {
    QFile file(m_dir.filePath("engine.log"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    lines.removeAll(QString());
    return lines;
}

bool ServiceProcess::waitForEngineCall(const QString& line, int timeoutMs, int from) const {
    QElapsedTimer timer;
    timer.start();
    do {
        if (engineCalls().mid(from).contains(line)) return true;
        QThread::msleep(10);
    } while (timer.elapsed() < timeoutMs);
    return false;
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
