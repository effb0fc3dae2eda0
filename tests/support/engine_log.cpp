#include "engine_log.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "test_names.h"

namespace fs = std::filesystem;

namespace {

void clearSwitches() {
    setEnvironment("FACELUME_RECORDING_FAIL_INIT", nullptr);
    setEnvironment("FACELUME_RECORDING_PROCESS_RESULT", nullptr);
}

}  // namespace

void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    // An empty value removes the variable.
    ::_putenv_s(name, value != nullptr ? value : "");
#else
    (void)(value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name));
#endif
}

EngineLog::EngineLog()
    : m_path((fs::temp_directory_path() / (testnames::letterName("facelumeengine") + ".log"))
                 .string()) {
    fs::remove(m_path);
    setEnvironment("FACELUME_RECORDING_LOG", m_path.c_str());
    clearSwitches();
}

EngineLog::~EngineLog() {
    setEnvironment("FACELUME_RECORDING_LOG", nullptr);
    clearSwitches();
    std::error_code ignored;
    fs::remove(m_path, ignored);
}

std::vector<std::string> EngineLog::lines() const {
    std::vector<std::string> result;
    std::ifstream file(m_path);
    for (std::string line; std::getline(file, line);) result.push_back(line);
    return result;
}

bool EngineLog::waitFor(const std::string& line, std::size_t from) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        const std::vector<std::string> logged = lines();
        if (logged.size() > from &&
            std::find(logged.begin() + from, logged.end(), line) != logged.end())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}
