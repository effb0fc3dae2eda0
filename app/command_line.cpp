#include "command_line.h"

#include "protocol.h"

CommandLine CommandLine::read(int argc, const char* const* argv) {
    CommandLine line{QString::fromLatin1(protocol::kDefaultReceiveName),
                     QString::fromLatin1(protocol::kDefaultSendName), protocol::kDefaultSize};
    if (argc >= 3) {
        line.receiveName = QString::fromUtf8(argv[1]);
        line.sendName = QString::fromUtf8(argv[2]);
    }
    if (argc >= 4) line.size = QString::fromUtf8(argv[3]).toInt(nullptr, 10);
    return line;
}
