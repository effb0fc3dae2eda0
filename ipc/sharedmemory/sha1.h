#pragma once

// SHA-1 (FIPS 180-4) of a byte string, as the key derivation needs it: 40 lowercase hexadecimal
// digits. Stateless and reentrant.

#include <string>

[[nodiscard]] std::string sha1Hex(const std::string& input);
