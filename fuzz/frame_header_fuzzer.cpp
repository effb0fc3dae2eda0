// A frame payload as the processing thread and the client check it before they touch its pixels.

#include <cstdint>
#include <cstdlib>

#include "protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* frame = reinterpret_cast<const char*>(data);
    protocol::FrameHeader header;
    if (!protocol::readFrameHeader(frame, static_cast<int>(size), &header)) return 0;
    const auto pixels = static_cast<std::int64_t>(header.width) * header.height * 3;
    if (header.width <= 0 || header.height <= 0 || pixels != header.pixelBytes ||
        protocol::kFrameHeaderBytes + pixels > static_cast<std::int64_t>(size))
        std::abort();
    // The engine reads every pixel byte; the address sanitizer stops a read past the input.
    volatile char last = frame[protocol::kFrameHeaderBytes + header.pixelBytes - 1];
    (void)last;
    return 0;
}
