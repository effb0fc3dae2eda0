#include "platform_safe_key.h"

#include <new>
#include <regex>
#include <vector>

#include "native_ipc.h"
#include "sha1.h"

namespace {

// The key as the system's ANSI code page gives it back after a round trip through UTF-16: the
// digest is taken over this form.
std::string codePageForm(const std::string& key) {
    const int units = nativeipc::multiByteToWideChar(key.c_str(), -1, nullptr, 0);
    std::vector<char16_t> buffer(static_cast<std::size_t>(units > 0 ? units : 0) + 1, 0);
    nativeipc::multiByteToWideChar(key.data(), static_cast<int>(key.size()), buffer.data(),
                                   static_cast<int>(buffer.size()));
    return wideToAnsi(buffer.data());
}

}  // namespace

std::string makePlatformSafeKey(const std::string& key, const std::string& prefix) {
    if (key.empty()) {
        return {};
    }
    std::string result = prefix;
    result += std::regex_replace(key, std::regex("[^A-Za-z]"), "");
    result += sha1Hex(codePageForm(key));
    return result;
}

std::string wideToAnsi(const char16_t* text) {
    const int size = nativeipc::wideCharToMultiByte(text, -1, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::vector<char> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return {};
    }
    nativeipc::wideCharToMultiByte(text, -1, bytes.data(), size);
    bytes.back() = '\0';
    return std::string(bytes.data());
}

std::u16string ansiToWide(const std::string& text) {
    const int length = static_cast<int>(text.size());
    const int units =
        length > 0 ? nativeipc::multiByteToWideChar(text.data(), length, nullptr, 0) : 0;
    if (units <= 0) {
        return {};
    }
    std::vector<char16_t> buffer;
    try {
        buffer.assign(static_cast<std::size_t>(units) + 1, 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    nativeipc::multiByteToWideChar(text.data(), length, buffer.data(), units);
    const std::size_t start = buffer[0] == 0xFEFF ? 1 : 0;
    return std::u16string(buffer.data() + start);
}
