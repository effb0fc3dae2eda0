#include "engine_calls.h"

#include <algorithm>
#include <chrono>

#include "recording_engine.h"

namespace {
constexpr int kWaitMs = 5000;
}

std::vector<std::string> EngineCalls::all() {
    std::vector<std::string> calls;
    for (int i = 0; i < recording_engine_call_count(); ++i) {
        const int length = recording_engine_call(i, nullptr, 0);
        if (length < 0) break;
        std::string line(static_cast<size_t>(length) + 1, '\0');
        recording_engine_call(i, line.data(), length + 1);
        line.resize(static_cast<size_t>(length));
        calls.push_back(line);
    }
    return calls;
}

bool EngineCalls::waitFor(int count) {
    return recording_engine_wait_for_calls(count, kWaitMs) >= count;
}

bool EngineCalls::waitForCall(const std::string& line) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
        const std::vector<std::string> calls = all();
        if (std::find(calls.begin(), calls.end(), line) != calls.end()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        recording_engine_wait_for_calls(static_cast<int>(calls.size()) + 1,
                                        static_cast<int>(left.count()));
    }
}

void EngineCalls::reset() { recording_engine_reset(); }
