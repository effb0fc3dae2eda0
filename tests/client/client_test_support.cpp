#include "client_test_support.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace clienttest {
namespace {

int processId() {
#ifdef _WIN32
    return ::_getpid();
#else
    return ::getpid();
#endif
}

// Native names keep only the letters of a channel name, so numbers are spelled in letters.
std::string inLetters(long number) {
    std::string letters;
    for (const char digit : std::to_string(number)) letters += static_cast<char>('a' + digit - '0');
    return letters;
}

}  // namespace

Names uniqueNames() {
    static std::atomic<int> counter{0};
    const std::string base = "sdk" + inLetters(processId()) + "t" + inLetters(counter++);
    return {base + "in", base + "out"};
}

std::string leftovers(const Names& names) {
    const std::string run = names.receive.substr(0, names.receive.size() - 2);
    std::string found;
    for (const fs::path folder : {fs::path("/dev/shm"), fs::temp_directory_path()}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            // Not the tests' own files (engine logs, service folders), which may be left by a
            // killed run of a process whose id came back.
            if (name.find(run) != std::string::npos && name.rfind("facelume-sdk-", 0) != 0) {
                found += name + " ";
            }
        }
    }
    return found;
}

void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    // An empty value removes the variable.
    ::_putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
#endif
}

EngineLog::EngineLog() {
    m_path = (fs::temp_directory_path() / ("facelume-sdk-engine-" + std::to_string(processId()) +
                                           "-" + uniqueNames().receive + ".log"))
                 .string();
    fs::remove(m_path);
    setEnvironment("FACELUME_RECORDING_LOG", m_path.c_str());
    setEnvironment("FACELUME_RECORDING_FAIL_INIT", nullptr);
    setEnvironment("FACELUME_RECORDING_PROCESS_RESULT", nullptr);
}

EngineLog::~EngineLog() {
    setEnvironment("FACELUME_RECORDING_LOG", nullptr);
    setEnvironment("FACELUME_RECORDING_FAIL_INIT", nullptr);
    setEnvironment("FACELUME_RECORDING_PROCESS_RESULT", nullptr);
    std::error_code ignored;
    fs::remove(m_path, ignored);
}

std::vector<std::string> EngineLog::lines() const {
    std::vector<std::string> result;
    std::ifstream file(m_path);
    for (std::string line; std::getline(file, line);) result.push_back(line);
    return result;
}

bool EngineLog::waitFor(const std::string& line) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        for (const std::string& logged : lines()) {
            if (logged == line) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::vector<std::uint8_t> makePixels(int width, int height, std::size_t stride, int first) {
    std::vector<std::uint8_t> pixels(stride * height, 0xEE);
    int value = first;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) pixels[y * stride + x] = (value++) & 0xFF;
    }
    return pixels;
}

bool isInverted(const std::vector<std::uint8_t>& in, const std::uint8_t* out, int width, int height,
                std::size_t stride) {
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) {
            if (out[y * width * 3 + x] != 255 - in[y * stride + x]) return false;
        }
    }
    return true;
}

std::string serviceFolder(bool withExecutable, bool withEngine, bool withResources) {
    const fs::path folder = fs::temp_directory_path() / ("facelume-sdk-" + uniqueNames().receive);
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (withExecutable) {
        fs::copy_file(FACELUME_RECORDING_SERVICE,
                      folder / fs::path(FACELUME_RECORDING_SERVICE).filename());
    }
    if (withEngine) {
        fs::copy_file(FACELUME_RECORDING_ENGINE,
                      folder / fs::path(FACELUME_RECORDING_ENGINE).filename());
    }
    if (withResources) fs::create_directory(folder / "beauty_res");
    return folder.string();
}

}  // namespace clienttest
