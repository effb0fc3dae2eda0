#pragma once

// Derivation of the system object names from keys, and the ANSI code-page conversions the names
// pass through. A native key is the prefix, the key's ASCII letters and the SHA-1 of the key; two
// processes that use the same key and prefix reach the same object. All functions are stateless
// and may run on any thread.

#include <string>

// Prefixes of the two kinds of object.
inline constexpr char kSharedMemoryKeyPrefix[] = "sm_sharedmemory_";
inline constexpr char kSystemSemaphoreKeyPrefix[] = "ipc_systemsem_";

// Empty for an empty key.
[[nodiscard]] std::string makePlatformSafeKey(const std::string& key, const std::string& prefix);

// NUL-terminated UTF-16 to the ANSI code page; empty on failure.
[[nodiscard]] std::string wideToAnsi(const char16_t* text);

// ANSI code page to UTF-16 without a leading byte-order mark; empty on failure.
[[nodiscard]] std::u16string ansiToWide(const std::string& text);
