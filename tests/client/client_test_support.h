#pragma once

// Shared by the client SDK tests: channel names of their own per test, frames with known bytes,
// and service folders with pieces missing.

#include <cstdint>
#include <string>
#include <vector>

#include "engine_log.h"

namespace clienttest {

// The test's own channel names (testnames::letterName and a counter).
struct Names {
    std::string receive;
    std::string send;
};
Names uniqueNames();

// width x height x 3 bytes, each (first + index) % 256, rows `stride` bytes apart.
std::vector<std::uint8_t> makePixels(int width, int height, std::size_t stride, int first);
// True when `out` (rows width * 3) holds the inverted pixels of `in` (rows `stride`).
bool isInverted(const std::vector<std::uint8_t>& in, const std::uint8_t* out, int width, int height,
                std::size_t stride);

// A fresh folder holding a copy of the recording service and the chosen pieces beside it, under
// their own file names (facelume, or facelume.exe on Windows).
std::string serviceFolder(bool withEngine, bool withResources);

}  // namespace clienttest
