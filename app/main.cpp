// facelume: the face-beautification service. Usage: facelume [RECEIVE_NAME SEND_NAME [SIZE]]
// (defaults n2, n1, 921700). Loads the effect engine from the beauty_res folder beside the
// executable, opens the channel to the client and processes frames until the process is ended
// from outside. Exits with -1 when the engine cannot be initialised.

#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QString>
#include <QStringList>

#include "mox_ai_effect.h"
#include "service_wiring.h"

namespace {

struct CommandLine {
    QString receiveName = QStringLiteral("n2");
    QString sendName = QStringLiteral("n1");
    int size = 921700;
};

// The arguments after the program's name. Windows hands main its arguments in the ANSI code page,
// so there Qt's reading of the UTF-16 command line is taken; elsewhere they are UTF-8.
QStringList commandLineArguments(int argc, char** argv) {
#ifdef Q_OS_WIN
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return QCoreApplication::arguments().mid(1);
#else
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromUtf8(argv[i]);
    return arguments;
#endif
}

// Names are taken only as a pair; the size only as the third argument. Extra ones are ignored.
CommandLine readCommandLine(const QStringList& arguments) {
    CommandLine line;
    if (arguments.size() >= 2) {
        line.receiveName = arguments[0];
        line.sendName = arguments[1];
    }
    if (arguments.size() >= 3) line.size = arguments[2].toInt(nullptr, 10);
    return line;
}

QString resourceFolder() {
    QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/beauty_res");
    return folder.replace(QStringLiteral("\\"), QStringLiteral("/"));
}

}  // namespace

int main(int argc, char** argv) {
    // Clients read the log lines on standard error. Without a console window (as a client starts
    // the service on Windows) Qt would send them to the debugger instead.
    qputenv("QT_FORCE_STDERR_LOGGING", "1");
    QCoreApplication app(argc, argv);
    const CommandLine line = readCommandLine(commandLineArguments(argc, argv));

    const QString folder = resourceFolder();
    qDebug() << folder;
    QByteArray localFolder = folder.toLocal8Bit();
    if (initialize(localFolder.data()) == 0) {
        qDebug() << "initError";
        return -1;
    }
    qDebug() << "initSuccess";

    wireService(line.receiveName, line.sendName, line.size);
    return app.exec();
}
