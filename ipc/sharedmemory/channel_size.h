#pragma once

// The bounds of a channel's size (the service's third argument, the size of each segment), shared
// by the service and the client SDK so that both refuse the same sizes with the same words.

#include <cstdint>

// 128 MiB: an 8K frame (7680 x 4320 pixels, 99,532,812 bytes with header and prefix) fits with
// room to spare, and the service's worst case stays at five times this (three buffers, two
// segments) instead of gigabytes.
inline constexpr std::int32_t kMaxChannelSize = 1 << 27;
