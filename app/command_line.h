#pragma once

// The service's command line: facelume [RECEIVE_NAME SEND_NAME [SIZE]]. Names are taken only as a
// pair, the size only as the third argument (anything but a decimal number reads as 0, which the
// channel refuses); extra arguments are ignored. A plain value.

#include <QByteArray>
#include <QList>
#include <QString>

struct CommandLine {
    QString receiveName;
    QString sendName;
    int size = 0;

    static CommandLine read(int argc, const char* const* argv);
    // The process's arguments in UTF-8, whatever encoding main received them in.
    // REQUIRES: a QCoreApplication exists.
    static QList<QByteArray> utf8Arguments(int argc, char** argv);
};
