// The service wiring of facelume_probe, a test build of the service: instead of opening a channel
// it prints what main handed over, "wireService <receive name> <send name> <size>", on standard
// output and ends the event loop, so start-up tests see main's command line handling.

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include "service_wiring.h"

void wireService(const QString& receiveName, const QString& sendName, int size) {
    QTextStream(stdout) << "wireService " << receiveName << ' ' << sendName << ' ' << size
                        << Qt::endl;
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
}

void unwireService() {}
