#pragma once

// The recording engine's call log (recording_engine.h) of the services a test starts: while an
// EngineLog exists, services started by this process write to a file of its own, which it
// removes at the end. One at a time per process; it also clears the engine's other switches.

#include <cstddef>
#include <string>
#include <vector>

class EngineLog {
public:
    EngineLog();
    ~EngineLog();
    EngineLog(const EngineLog&) = delete;
    EngineLog& operator=(const EngineLog&) = delete;

    const std::string& path() const { return m_path; }
    // The calls logged so far, one per line.
    std::vector<std::string> lines() const;
    // Waits (5 s at most) until `line` is logged as call number `from` or later.
    bool waitFor(const std::string& line, std::size_t from = 0) const;

private:
    std::string m_path;
};

// Sets an environment variable of this process, or removes it when value is null.
void setEnvironment(const char* name, const char* value);
