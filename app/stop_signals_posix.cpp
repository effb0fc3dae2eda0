// The self-pipe way: the handler only writes one byte (async-signal-safe), and the main thread's
// event loop sees the pipe become readable and quits.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>

#include "stop_signals.h"
#include "unique_handle.h"

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
    platform::UniqueHandle readEnd;
    platform::UniqueHandle writeEnd;
    QSocketNotifier* notifier = nullptr;
};

StopSignals::StopSignals(QObject* parent) : QObject(parent), d(new StopSignalsPrivate) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    d->readEnd.reset(ends[0]);
    d->writeEnd.reset(ends[1]);
    g_writeEnd = ends[1];
    d->notifier = new QSocketNotifier(d->readEnd.get(), QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(d->readEnd.get(), bytes, sizeof bytes) > 0) {
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
    delete d;
}

bool StopSignals::isInstalled() const { return d->notifier != nullptr; }
