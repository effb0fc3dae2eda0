#pragma once

// Shared by the client SDK tests: channel names of their own per test, frames with known bytes,
// and copies of the service with pieces missing.

#include <cstdint>
#include <string>
#include <vector>

#include "engine_log.h"
#include "facelume_client.h"
#include "scratch_folder.h"

namespace clienttest {

// The recording service under the test's own channel names (testnames::letterName and a
// counter), with `size` bytes per direction.
facelume::ServiceOptions serviceOptions(int size = 921700);

// width x height x 3 bytes, each (first + index) % 256, rows `stride` bytes apart.
std::vector<std::uint8_t> makePixels(int width, int height, std::size_t stride, int first);
// True when `out` (rows width * 3) holds the inverted pixels of `in` (rows `stride`).
bool isInverted(const std::vector<std::uint8_t>& in, const std::uint8_t* out, int width, int height,
                std::size_t stride);

// A frame of its own (bytes counting up from `first`, rows `stride` bytes apart) through
// process(): true when it comes back inverted.
bool roundTrip(facelume::Client& client, int width, int height, std::size_t stride, int first);

// Copies the recording service and the chosen pieces into folder, under their own file names
// (facelume, or facelume.exe on Windows); returns the copied service's path.
std::string installService(const ScratchFolder& folder, bool withEngine, bool withResources);

}  // namespace clienttest
