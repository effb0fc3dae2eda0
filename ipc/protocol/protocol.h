#pragma once

// The wire between a client and the service, written once for both sides and their tests: the
// names derived from the two channel names, the service's defaults and limits, the length prefix
// of a message, the frame header, the control ids and the "[CMD]" line envelope. Free of Qt, so
// the client SDK (native and MinGW) uses it as it is. docs/protocol.md describes it in words.
// Stateless; every function is reentrant.

#include <cstdint>
#include <string>
#include <string_view>

namespace protocol {

// What the service takes when its command line leaves the names or the size out.
inline constexpr char kDefaultReceiveName[] = "n2";
inline constexpr char kDefaultSendName[] = "n1";
inline constexpr int kDefaultSize = 921700;
// The largest segment the service and the client SDK take, 128 MiB: an 8K frame (7680 x 4320
// pixels, 99,532,812 bytes with header and prefix) fits with room to spare, and the service's worst
// case stays at five times this (three buffers, two segments) instead of gigabytes.
inline constexpr int kMaxSize = 1 << 27;

// How long the service waits for a segment lock before it lets that message go.
inline constexpr int kLockTimeoutMs = 50;

// A message: 4-byte little-endian payload length, then the payload. A frame payload: width and
// height as 4-byte little-endian signed integers, then width * height * 3 BGR bytes.
inline constexpr int kLengthPrefixBytes = 4;
inline constexpr int kFrameHeaderBytes = 8;
inline constexpr int kFrameHeightOffset = 4;  // in the frame header; the width comes first
inline constexpr int kBytesPerPixel = 3;

// The service's one line on the pipe it connects to, without the line feed.
inline constexpr char kAnnouncement[] = "ServerCreated";
inline constexpr char kLineEnd = '\n';
inline constexpr char kCommandEnvelope[] = "[CMD]";
inline constexpr int kCommandEnvelopeBytes = sizeof(kCommandEnvelope) - 1;
inline constexpr char kFieldSeparator = '|';

// The control ids as the service numbers them.
enum ControlId : int {
    kSkinWhite = 0,
    kSkinSmooth = 1,
    kEyeScale = 2,
    kFaceThin = 3,
    kFilter = 4,
    kSticker = 5,
    kLipstick = 6,
    kCheeks = 7,
    kEyebrow = 8,
};
inline constexpr int kFirstControlId = kSkinWhite;
inline constexpr int kLastControlId = kEyebrow;

// Keys and names derived from a channel name (see "Names derived from the channel names").
[[nodiscard]] std::string segmentKey(const std::string& channelName);
[[nodiscard]] std::string notificationKey(const std::string& segmentKey);
[[nodiscard]] std::string pipeName(const std::string& channelName);
// "qipc_systemsem_", the ASCII letters of the key, then the SHA-1 of its bytes in 40 lowercase
// hex digits: the name the system knows a notification semaphore by.
[[nodiscard]] std::string notificationNativeName(const std::string& key);

[[nodiscard]] std::int32_t readInt32(const void* at);
void writeInt32(void* at, std::int32_t value);

// The payload of one message whose first `usable` bytes are valid, or null when its length
// prefix is negative or runs past them; *length receives the prefix either way (0 when even the
// prefix does not fit).
[[nodiscard]] const char* messagePayload(const char* message, int usable, int* length);

struct FrameHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int pixelBytes = 0;
};
// True when the frame's header fits it: at least 8 bytes, width and height positive, and
// width * height * 3 pixel bytes within 32 bits and within the `size` bytes of the frame.
[[nodiscard]] bool readFrameHeader(const char* frame, int size, FrameHeader* header);

// The control command of a pipe line without its envelope; empty when the line carries none.
[[nodiscard]] std::string_view commandOf(std::string_view line);
// "[CMD]" + command + line feed.
[[nodiscard]] std::string commandLine(std::string_view command);

}  // namespace protocol
