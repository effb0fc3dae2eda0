// facelume: the face-beautification service. Usage: facelume [RECEIVE_NAME SEND_NAME [SIZE]]
// (defaults n2, n1, 921700). Loads the effect engine from the beauty_res folder beside the
// executable (or, when there is none, from the installed share/facelume/beauty_res), opens the
// channel to the client and processes frames until the process is ended from outside. Exits with -1
// when the engine cannot be initialised.

#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QString>

#include "command_line.h"
#include "mox_ai_effect.h"
#include "service_wiring.h"

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
    const CommandLine line = CommandLine::read(argc, argv);
    QCoreApplication app(argc, argv);

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
