#pragma once

// Shared by the client SDK tests: channel names of their own per test, the recording engine's
// call log of the service the test starts, frames with known bytes, and service folders with
// pieces missing.

#include <cstdint>
#include <string>
#include <vector>

namespace clienttest {

// Names no other test (or earlier run) uses: the process id and a counter, spelled in letters.
struct Names {
    std::string receive;
    std::string send;
};
Names uniqueNames();
// Named objects and sockets of those names that are still there, separated by blanks.
std::string leftovers(const Names& names);

// Points the recording engine of services started from now on at a fresh log file, and sets or
// clears its switches.
class EngineLog {
public:
    EngineLog();
    ~EngineLog();
    std::vector<std::string> lines() const;
    // Waits (5 s at most) until `line` is logged.
    bool waitFor(const std::string& line) const;

private:
    std::string m_path;
};

void setEnvironment(const char* name, const char* value);

// width x height x 3 bytes, each (first + index) % 256, rows `stride` bytes apart.
std::vector<std::uint8_t> makePixels(int width, int height, std::size_t stride, int first);
// True when `out` (rows width * 3) holds the inverted pixels of `in` (rows `stride`).
bool isInverted(const std::vector<std::uint8_t>& in, const std::uint8_t* out, int width, int height,
                std::size_t stride);

// A fresh folder holding copies of the chosen pieces of the recording service, under their own
// file names (facelume, or facelume.exe on Windows).
std::string serviceFolder(bool withExecutable, bool withEngine, bool withResources);

}  // namespace clienttest
