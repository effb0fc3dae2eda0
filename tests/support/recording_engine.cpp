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
    std::vector<std::string> calls;
    std::string logFile;
    bool failInitialize = false;
    int processResult = 1;
    bool holdProcess = false;
    std::vector<unsigned char> output;
};

bool envIs(const char* name, const char* value) {
    const char* set = std::getenv(name);
    return set && std::strcmp(set, value) == 0;
}

// REQUIRES: recorder.mutex held.
void readEnvironment(Recorder& recorder) {
    const char* logFile = std::getenv("FACELUME_RECORDING_LOG");
    recorder.logFile = logFile ? logFile : "";
    recorder.failInitialize = envIs("FACELUME_RECORDING_FAIL_INIT", "1");
    recorder.processResult = envIs("FACELUME_RECORDING_PROCESS_RESULT", "0") ? 0 : 1;
    recorder.holdProcess = false;
}

Recorder& recorder() {
    static Recorder* instance = [] {
        auto* created = new Recorder;
        readEnvironment(*created);
        return created;
    }();
    return *instance;
}

// REQUIRES: recorder.mutex held.
void record(Recorder& recorder, std::string line) {
    if (!recorder.logFile.empty()) {
        if (std::FILE* file = std::fopen(recorder.logFile.c_str(), "a")) {
            std::fprintf(file, "%s\n", line.c_str());
            std::fclose(file);
        }
    }
    recorder.calls.push_back(std::move(line));
    recorder.changed.notify_all();
}

void record(std::string line) {
    Recorder& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    record(r, std::move(line));
}

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

int recordValue(const char* function, float value) {
    record(std::string(function) + " " + number(value));
    return 1;
}

int recordNameValue(const char* function, const char* name, float value) {
    record(std::string(function) + " " + quoted(name) + " " + number(value));
    return 1;
}

}  // namespace

extern "C" {

int initialize(char* resourceFolder) {
    Recorder& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    record(r, std::string("initialize ") + (resourceFolder ? resourceFolder : "null"));
    if (!resourceFolder || r.failInitialize) return 0;
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::u8path(resourceFolder), error) ? 1 : 0;
}

int process(int width, int height, unsigned char* input, unsigned char** output) {
    Recorder& r = recorder();
    std::unique_lock<std::mutex> lock(r.mutex);
    const bool readable = width > 0 && height > 0 && input && output;
    record(r, "process " + std::to_string(width) + " " + std::to_string(height) + " " +
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

int modify_sticker(char* name) {
    record("modify_sticker " + quoted(name));
    return 1;
}

int modify_makeup_lipstick(char* name, float value) {
    return recordNameValue("modify_makeup_lipstick", name, value);
}

int modify_makeup_cheeks(char* name, float value) {
    return recordNameValue("modify_makeup_cheeks", name, value);
}

int modify_makeup_eyebrow(char* name, float value) {
    return recordNameValue("modify_makeup_eyebrow", name, value);
}

void recording_engine_reset(void) {
    Recorder& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.calls.clear();
    readEnvironment(r);
    r.changed.notify_all();
}

void recording_engine_set_fail_initialize(int fail) {
    Recorder& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.failInitialize = fail != 0;
}

void recording_engine_set_process_result(int result) {
    Recorder& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.processResult = result;
}

void recording_engine_hold_process(int hold) {
    Recorder& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.holdProcess = hold != 0;
    r.changed.notify_all();
}

int recording_engine_call_count(void) {
    Recorder& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    return static_cast<int>(r.calls.size());
}

int recording_engine_call(int index, char* buffer, int size) {
    Recorder& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (index < 0 || index >= static_cast<int>(r.calls.size())) return -1;
    const std::string& line = r.calls[index];
    if (buffer && size > 0) std::snprintf(buffer, static_cast<size_t>(size), "%s", line.c_str());
    return static_cast<int>(line.size());
}

int recording_engine_wait_for_calls(int count, int timeoutMs) {
    Recorder& r = recorder();
    std::unique_lock<std::mutex> lock(r.mutex);
    r.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&r, count] { return static_cast<int>(r.calls.size()) >= count; });
    return static_cast<int>(r.calls.size());
}

}  // extern "C"
