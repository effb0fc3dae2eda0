#include "protocol.h"

#include <climits>
#include <cstring>

#include "sha1.h"

namespace protocol {

std::string segmentKey(const std::string& channelName) { return channelName + "_sharedMemory"; }

std::string notificationKey(const std::string& segmentKey) { return segmentKey + "_sys"; }

std::string pipeName(const std::string& channelName) { return channelName + "_pipe"; }

std::string notificationNativeName(const std::string& key) {
    if (key.empty()) return std::string();
    std::string name = "qipc_systemsem_";
    for (const char c : key) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) name += c;
    }
    return name + sha1Hex(key);
}

std::int32_t readInt32(const void* at) {
    const auto* bytes = static_cast<const unsigned char*>(at);
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

void writeInt32(void* at, std::int32_t value) {
    auto* bytes = static_cast<unsigned char*>(at);
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

const char* messagePayload(const char* message, int usable, int* length) {
    if (usable < kLengthPrefixBytes) {
        *length = 0;
        return nullptr;
    }
    *length = readInt32(message);
    if (*length < 0 || *length > usable - kLengthPrefixBytes) return nullptr;
    return message + kLengthPrefixBytes;
}

bool readFrameHeader(const char* frame, int size, FrameHeader* header) {
    if (size < kFrameHeaderBytes) return false;
    header->width = readInt32(frame);
    header->height = readInt32(frame + kFrameHeightOffset);
    if (header->width <= 0 || header->height <= 0) return false;
    // Both factors are below 2^31, so the product of all three stays below 2^64.
    const std::uint64_t pixelBytes = std::uint64_t{static_cast<std::uint32_t>(header->width)} *
                                     static_cast<std::uint32_t>(header->height) * kBytesPerPixel;
    if (pixelBytes > INT_MAX || kFrameHeaderBytes + pixelBytes > std::uint64_t(size)) return false;
    header->pixelBytes = static_cast<int>(pixelBytes);
    return true;
}

std::string_view commandOf(std::string_view line) {
    if (line.size() <= std::size_t(kCommandEnvelopeBytes) ||
        line.substr(0, kCommandEnvelopeBytes) != kCommandEnvelope)
        return std::string_view();
    return line.substr(kCommandEnvelopeBytes);
}

std::string commandLine(std::string_view command) {
    std::string line(kCommandEnvelope);
    line.append(command);
    line += kLineEnd;
    return line;
}

}  // namespace protocol
