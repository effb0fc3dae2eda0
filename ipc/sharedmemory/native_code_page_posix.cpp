// Linux side of the code-page conversions: the ANSI code page is UTF-8. As with Windows' UTF-8
// code page without flags, bytes that are not valid UTF-8 decode to U+FFFD, one per maximal
// invalid subpart (the Unicode recommendation), and unpaired surrogates encode as U+FFFD.

#include <cstring>
#include <string>

#include "native_ipc.h"

namespace nativeipc {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte >= low && byte <= high;
}

// Decodes one character at bytes[0..length) and returns the number of bytes it takes; an invalid
// or truncated sequence yields U+FFFD for its longest valid prefix (at least one byte).
int decodeOne(const unsigned char* bytes, int length, char32_t& character) {
    const unsigned char lead = bytes[0];
    int trailing = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        character = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
        character = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        character = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        character = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        character = kReplacement;
        return 1;
    }
    for (int i = 1; i <= trailing; ++i) {
        const bool valid =
            i < length && (i == 1 ? isContinuation(bytes[i], low, high) : isContinuation(bytes[i]));
        if (!valid) {
            character = kReplacement;
            return i;
        }
        character = (character << 6) | (bytes[i] & 0x3F);
    }
    return trailing + 1;
}

std::u16string decodeUtf8(const unsigned char* bytes, int length) {
    std::u16string units;
    for (int position = 0; position < length;) {
        char32_t character = 0;
        position += decodeOne(bytes + position, length - position, character);
        if (character >= 0x10000) {
            character -= 0x10000;
            units += static_cast<char16_t>(0xD800 + (character >> 10));
            units += static_cast<char16_t>(0xDC00 + (character & 0x3FF));
        } else {
            units += static_cast<char16_t>(character);
        }
    }
    return units;
}

void appendUtf8(std::string& bytes, char32_t character) {
    if (character < 0x80) {
        bytes += static_cast<char>(character);
    } else if (character < 0x800) {
        bytes += static_cast<char>(0xC0 | (character >> 6));
        bytes += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        bytes += static_cast<char>(0xE0 | (character >> 12));
        bytes += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (character >> 18));
        bytes += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (character & 0x3F));
    }
}

std::string encodeUtf8(const char16_t* units, int length) {
    std::string bytes;
    for (int i = 0; i < length; ++i) {
        char32_t character = units[i];
        const bool high = character >= 0xD800 && character <= 0xDBFF;
        const bool low = character >= 0xDC00 && character <= 0xDFFF;
        if (high && i + 1 < length && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            character = 0x10000 + ((character - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (high || low) {
            character = kReplacement;
        }
        appendUtf8(bytes, character);
    }
    return bytes;
}

std::size_t wideLength(const char16_t* units) {
    std::size_t length = 0;
    while (units[length] != 0) {
        ++length;
    }
    return length;
}

// Copies a converted text out with the Windows conventions for sizes and errors.
template <typename Text, typename Unit>
int deliver(const Text& text, Unit* out, int capacity) {
    const int needed = static_cast<int>(text.size());
    if (capacity == 0) {
        return needed;
    }
    if (needed > capacity) {
        setLastError(kErrorInsufficientBuffer);
        return 0;
    }
    std::memcpy(out, text.data(), text.size() * sizeof(Unit));
    return needed;
}

}  // namespace

int multiByteToWideChar(const char* bytes, int byteCount, char16_t* units, int unitCapacity) {
    if (bytes == nullptr || byteCount == 0 || byteCount < -1 || unitCapacity < 0 ||
        (unitCapacity > 0 && units == nullptr)) {
        setLastError(kErrorInvalidParameter);
        return 0;
    }
    const int length = byteCount == -1 ? static_cast<int>(std::strlen(bytes)) + 1 : byteCount;
    return deliver(decodeUtf8(reinterpret_cast<const unsigned char*>(bytes), length), units,
                   unitCapacity);
}

int wideCharToMultiByte(const char16_t* units, int unitCount, char* bytes, int byteCapacity) {
    if (units == nullptr || unitCount == 0 || unitCount < -1 || byteCapacity < 0 ||
        (byteCapacity > 0 && bytes == nullptr)) {
        setLastError(kErrorInvalidParameter);
        return 0;
    }
    const int length = unitCount == -1 ? static_cast<int>(wideLength(units)) + 1 : unitCount;
    return deliver(encodeUtf8(units, length), bytes, byteCapacity);
}

}  // namespace nativeipc
