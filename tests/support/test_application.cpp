#include "test_application.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

void ensureApplication() {
    static int argc = 1;
    static char name[] = "facelume_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

bool processEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() >= timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

bool waitUntilWritten(QLocalSocket& socket, int timeoutMs) {
    return processEventsUntil([&socket] { return socket.bytesToWrite() == 0; }, timeoutMs);
}

// ThreadSanitizer reads this at start-up. Qt is not built with it, so the locks inside Qt (a
// QThread's own wait condition, for one) are invisible to it except through the pthread calls it
// intercepts, which then look unordered; those calls from Qt are not tracked.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libQt5Core.so.5\n"; }
