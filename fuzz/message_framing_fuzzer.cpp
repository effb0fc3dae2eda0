// A segment's bytes as the receiving side reads them: the length prefix must never lead it past
// the bytes it holds.

#include <cstdint>
#include <cstdlib>

#include "protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* message = reinterpret_cast<const char*>(data);
    const int usable = static_cast<int>(size);
    int length = -1;
    const char* payload = protocol::messagePayload(message, usable, &length);
    if (!payload) return 0;
    if (payload != message + protocol::kLengthPrefixBytes || length < 0 ||
        length > usable - protocol::kLengthPrefixBytes)
        std::abort();
    // The address sanitizer stops here when the payload runs past the input.
    volatile char sum = 0;
    for (int i = 0; i < length; ++i) sum = sum + payload[i];
    return 0;
}
