// One read from the service's pipe: cut into lines, each line's "[CMD]" envelope opened.

#include <QByteArrayList>
#include <cstdint>
#include <cstdlib>

#include "duplex_local_pipe.h"
#include "protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const QByteArrayList pieces = DuplexLocalPipe::splitLines(bytes);
    // Nothing is lost or added between the pieces.
    if (pieces.join(protocol::kLineEnd) != bytes) std::abort();
    const std::string_view envelope = protocol::kCommandEnvelope;
    for (const QByteArray& piece : pieces) {
        const std::string_view line(piece.constData(), piece.size());
        if (line.find(protocol::kLineEnd) != std::string_view::npos) std::abort();
        const std::string_view command = protocol::commandOf(line);
        const bool enveloped = line.size() > envelope.size() && line.substr(0, 5) == envelope;
        if (command.empty() == enveloped || (enveloped && command != line.substr(5))) std::abort();
    }
    return 0;
}
