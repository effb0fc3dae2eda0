#include <QCoreApplication>
#include <QString>

#include "command_line.h"

// Windows hands main its arguments in the ANSI code page, which loses what it cannot spell; Qt
// reads the UTF-16 command line instead.
QList<QByteArray> CommandLine::utf8Arguments(int, char**) {
    QList<QByteArray> arguments;
    for (const QString& argument : QCoreApplication::arguments()) arguments << argument.toUtf8();
    return arguments;
}
