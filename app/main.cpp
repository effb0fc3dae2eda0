// facelume: the face-beautification service. Usage: facelume [RECEIVE_NAME SEND_NAME [SIZE]]
// (defaults n2, n1, 921700). Loads the effect engine from the beauty_res folder beside the
// executable, opens the channel to the client and processes frames until it is asked to stop
// (SIGTERM, SIGINT, SIGHUP; Ctrl+C on Windows): it then closes the channel, so that the last
// process holding them removes its named objects, and exits with 0. Exits with -1 when the engine
// cannot be initialised.

#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QString>

#include "mox_ai_effect.h"
#include "service_wiring.h"
#include "stop_signals.h"

namespace {

struct CommandLine {
    QString receiveName = QStringLiteral("n2");
    QString sendName = QStringLiteral("n1");
    int size = 921700;
};

// Names are taken only as a pair; the size only as the third argument. Extra ones are ignored.
CommandLine readCommandLine(int argc, char** argv) {
    CommandLine line;
    if (argc >= 3) {
        line.receiveName = QString::fromUtf8(argv[1]);
        line.sendName = QString::fromUtf8(argv[2]);
    }
    if (argc >= 4) line.size = QString::fromUtf8(argv[3]).toInt(nullptr, 10);
    return line;
}

QString resourceFolder() {
    QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/beauty_res");
    return folder.replace(QStringLiteral("\\"), QStringLiteral("/"));
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = readCommandLine(argc, argv);
    QCoreApplication app(argc, argv);

    const QString folder = resourceFolder();
    qDebug() << folder;
    QByteArray localFolder = folder.toLocal8Bit();
    if (initialize(localFolder.data()) == 0) {
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
