// The console control handler runs on a thread of its own that the system starts; it hands the
// request to the main thread's event loop and returns at once.

#include <windows.h>

#include <QCoreApplication>
#include <QMetaObject>

#include "stop_signals.h"

namespace {

BOOL WINAPI onConsoleControl(DWORD) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return FALSE;
    QMetaObject::invokeMethod(app, "quit", Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

class StopSignalsPrivate {
public:
    bool installed = false;
};

StopSignals::StopSignals(QObject* parent) : QObject(parent), d(new StopSignalsPrivate) {
    d->installed = SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
}

StopSignals::~StopSignals() {
    if (d->installed) SetConsoleCtrlHandler(onConsoleControl, FALSE);
    delete d;
}

bool StopSignals::isInstalled() const { return d->installed; }
