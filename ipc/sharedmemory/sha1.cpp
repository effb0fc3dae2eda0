#include "sha1.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace {

std::uint32_t rotateLeft(std::uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

void processBlock(const unsigned char* block, std::array<std::uint32_t, 5>& state) {
    std::array<std::uint32_t, 80> words{};
    for (int t = 0; t < 16; ++t) {
        words[t] = (std::uint32_t{block[4 * t]} << 24) | (std::uint32_t{block[4 * t + 1]} << 16) |
                   (std::uint32_t{block[4 * t + 2]} << 8) | std::uint32_t{block[4 * t + 3]};
    }
    for (int t = 16; t < 80; ++t) {
        words[t] = rotateLeft(words[t - 3] ^ words[t - 8] ^ words[t - 14] ^ words[t - 16], 1);
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int t = 0; t < 80; ++t) {
        std::uint32_t f;
        std::uint32_t k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const std::uint32_t temp = rotateLeft(a, 5) + f + e + k + words[t];
        e = d;
        d = c;
        c = rotateLeft(b, 30);
        b = a;
        a = temp;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

}  // namespace

std::string sha1Hex(const std::string& input) {
    std::array<std::uint32_t, 5> state{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    // Padding: 0x80, zeros up to 56 mod 64, then the bit length as a 64-bit big-endian number.
    std::string message = input;
    const std::uint64_t bitLength = static_cast<std::uint64_t>(input.size()) * 8;
    message += static_cast<char>(0x80);
    while (message.size() % 64 != 56) {
        message += '\0';
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
        message += static_cast<char>((bitLength >> shift) & 0xFF);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    for (std::size_t offset = 0; offset < message.size(); offset += 64) {
        processBlock(bytes + offset, state);
    }
    std::string hex;
    char word[9];
    for (const std::uint32_t value : state) {
        std::snprintf(word, sizeof(word), "%08x", static_cast<unsigned>(value));
        hex += word;
    }
    return hex;
}
