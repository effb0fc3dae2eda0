// The self-pipe way: the handler only writes one byte (async-signal-safe), and the main thread's
// event loop sees the pipe become readable and quits.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>

#include "stop_signals.h"

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_writeEnd = -1;

void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(g_writeEnd, &byte, 1);
    errno = saved;
}

}  // namespace

class StopSignalsPrivate {
public:
    int fds[2] = {-1, -1};
    QSocketNotifier* notifier = nullptr;
};

StopSignals::StopSignals(QObject* parent) : QObject(parent), d(new StopSignalsPrivate) {
    if (::pipe2(d->fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_writeEnd = d->fds[1];
    d->notifier = new QSocketNotifier(d->fds[0], QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(d->fds[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kStopSignals) ::sigaction(signal, &action, nullptr);
}

StopSignals::~StopSignals() {
    if (d->notifier) {
        // Back to the default: a request after this point ends the process at once.
        for (const int signal : kStopSignals) ::signal(signal, SIG_DFL);
        g_writeEnd = -1;
    }
    for (const int fd : d->fds) {
        if (fd >= 0) ::close(fd);
    }
    delete d;
}

bool StopSignals::isInstalled() const { return d->notifier != nullptr; }
