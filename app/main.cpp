// facelume: the face-beautification service. Usage: facelume [RECEIVE_NAME SEND_NAME [SIZE]]
// (defaults n2, n1, 921700). Loads the effect engine from the beauty_res folder beside the
// executable (or, when there is none, from the installed share/facelume/beauty_res), opens the
// channel to the client and processes frames until it is asked to stop (SIGTERM, SIGINT, SIGHUP;
// Ctrl+C on Windows): it then closes the channel, so that the last process holding them removes
// its named objects, and exits with 0. Exits with -1 when the engine cannot be initialised.

#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QList>
#include <QString>
#include <vector>

#include "command_line.h"
#include "mox_ai_effect.h"
#include "service_wiring.h"
#include "stop_signals.h"

namespace {

// beauty_res beside the executable; when there is none, the installed one (share/facelume).
QString resourceFolder() {
    const QString home = QCoreApplication::applicationDirPath();
    QString folder = home + QStringLiteral("/beauty_res");
    if (!QDir(folder).exists()) {
        const QString installed =
            QDir::cleanPath(home + QStringLiteral("/" FACELUME_RELATIVE_RESOURCES));
        if (QDir(installed).exists()) folder = installed;
    }
    return folder.replace(QStringLiteral("\\"), QStringLiteral("/"));
}

}  // namespace

int main(int argc, char** argv) {
    // Clients read the log lines on standard error. Without a console window (as a client starts
    // the service on Windows) Qt would send them to the debugger instead.
    qputenv("QT_FORCE_STDERR_LOGGING", "1");
    QCoreApplication app(argc, argv);
    const QList<QByteArray> arguments = CommandLine::utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const QByteArray& argument : arguments) pointers.push_back(argument.constData());
    const CommandLine line = CommandLine::read(static_cast<int>(pointers.size()), pointers.data());

    const QString folder = resourceFolder();
    qDebug() << folder;
    // The engine takes its folder in UTF-8, on every platform.
    QByteArray utf8Folder = folder.toUtf8();
    if (initialize(utf8Folder.data()) == 0) {
        qDebug() << "initError";
        return -1;
    }
    qDebug() << "initSuccess";

    const StopSignals stopSignals;
    wireService(line.receiveName, line.sendName, line.size);
    const int result = app.exec();
    unwireService();
    return result;
}
