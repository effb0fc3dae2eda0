#include "engine_calls.h"

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

void EngineCalls::reset() { recording_engine_reset(); }
