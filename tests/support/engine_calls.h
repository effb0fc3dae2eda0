#pragma once

// Test-side view of the recording engine's call log (see recording_engine.h for its lines).

#include <string>
#include <vector>

class EngineCalls {
public:
    static std::vector<std::string> all();
    // Waits (5 s at most) until count calls are recorded; false when they did not come.
    [[nodiscard]] static bool waitFor(int count);
    // Waits (5 s at most) until line is recorded; false when it did not come.
    [[nodiscard]] static bool waitForCall(const std::string& line);
    static void reset();
};
