#include "command_line.h"

// main receives the bytes as they were given, which on Linux are UTF-8.
QList<QByteArray> CommandLine::utf8Arguments(int argc, char** argv) {
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i) arguments << QByteArray(argv[i]);
    return arguments;
}
