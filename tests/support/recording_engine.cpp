// The recording test engine; recording_engine.h describes its behaviour and log format.

#include "recording_engine.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr auto kMaxHold = std::chrono::seconds(10);

struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::string logFile;
    bool failInitialize = false;
    int processResult = 1;
    bool holdProcess = false;
    std::vector<unsigned char> output;

    Recorder() { readEnvironment(); }

    // REQUIRES: mutex held.
    void readEnvironment() {
        const char* log = std::getenv("FACELUME_RECORDING_LOG");
        logFile = log ? log : "";
        failInitialize = envIs("FACELUME_RECORDING_FAIL_INIT", "1");
        processResult = envIs("FACELUME_RECORDING_PROCESS_RESULT", "0") ? 0 : 1;
        holdProcess = false;
    }

    // REQUIRES: mutex held.
    void record(const std::string& line) {
        // Binary: lines end in "\n" on Windows too.
        if (std::FILE* file = logFile.empty() ? nullptr : std::fopen(logFile.c_str(), "ab")) {
            std::fprintf(file, "%s\n", line.c_str());
            std::fclose(file);
        }
    }

    static bool envIs(const char* name, const char* value) {
        const char* set = std::getenv(name);
        return set && std::strcmp(set, value) == 0;
    }
};

// Never destroyed: the service may call the engine while the process exits.
Recorder& recorder() {
    static Recorder* const instance = new Recorder;
    return *instance;
}

// Locks the one recorder for the caller's scope.
struct Locked : std::unique_lock<std::mutex> {
    Locked() : std::unique_lock<std::mutex>(recorder().mutex) {}
    Recorder& r = recorder();
};

std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

std::string quoted(const char* name) {
    if (!name) return "null";
    std::string text = "\"";
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c) {
        if (*c < 0x20 || *c == '"' || *c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", *c);
            text += escaped;
        } else {
            text += static_cast<char>(*c);
        }
    }
    return text + "\"";
}

int record(const std::string& line) {
    Locked().r.record(line);
    return 1;
}

int recordValue(const char* function, float value) {
    return record(std::string(function) + " " + number(value));
}

int recordNameValue(const char* function, const char* name, float value) {
    return record(std::string(function) + " " + quoted(name) + " " + number(value));
}

}  // namespace

extern "C" {

int initialize(char* resourceFolder) {
    Locked lock;
    lock.r.record(std::string("initialize ") + (resourceFolder ? resourceFolder : "null"));
    if (!resourceFolder || lock.r.failInitialize) return 0;
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::u8path(resourceFolder), error) ? 1 : 0;
}

int process(int width, int height, unsigned char* input, unsigned char** output) {
    Locked lock;
    Recorder& r = lock.r;
    const bool readable = width > 0 && height > 0 && input && output;
    r.record("process " + std::to_string(width) + " " + std::to_string(height) + " " +
             (readable ? std::to_string(input[0]) : std::string("-")));
    r.changed.wait_for(lock, kMaxHold, [&r] { return !r.holdProcess; });
    if (!readable || r.processResult == 0) return 0;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    if (r.output.size() < bytes) r.output.resize(bytes);
    for (size_t i = 0; i < bytes; ++i) r.output[i] = static_cast<unsigned char>(255 - input[i]);
    *output = r.output.data();
    return r.processResult;
}

int modify_skin_white(float value) { return recordValue("modify_skin_white", value); }
int modify_skin_smooth(float value) { return recordValue("modify_skin_smooth", value); }
int modify_shape_eye_scale(float value) { return recordValue("modify_shape_eye_scale", value); }
int modify_shape_face_thin(float value) { return recordValue("modify_shape_face_thin", value); }
int modify_filter(char* name, float value) { return recordNameValue("modify_filter", name, value); }
int modify_sticker(char* name) { return record("modify_sticker " + quoted(name)); }
int modify_makeup_lipstick(char* name, float value) {
    return recordNameValue("modify_makeup_lipstick", name, value);
}
int modify_makeup_cheeks(char* name, float value) {
    return recordNameValue("modify_makeup_cheeks", name, value);
}
int modify_makeup_eyebrow(char* name, float value) {
    return recordNameValue("modify_makeup_eyebrow", name, value);
}

}  // extern "C"

void RecordingEngine::reset() {
    Locked lock;
    lock.r.readEnvironment();
    lock.r.changed.notify_all();
}

void RecordingEngine::setProcessResult(int result) { Locked().r.processResult = result; }

void RecordingEngine::holdProcess(bool hold) {
    Locked lock;
    lock.r.holdProcess = hold;
    lock.r.changed.notify_all();
}
