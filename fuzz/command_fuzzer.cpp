// A control command as the pipe delivers it to the processing thread: the id, then fields that
// decode to values in hundredths and hex-coded names. The engine here checks what reaches it.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mox_ai_effect.h"
#include "process_thread.h"

namespace {

// A value is a 32-bit count of hundredths.
void checkValue(float value) {
    if (!std::isfinite(value) || std::fabs(value) > 21474837.f) std::abort();
}

// A name is either null or NUL-terminated and non-empty; a null name turns the value off.
void checkNamed(const char* name, float value) {
    if (name && name[0] == '\0') std::abort();
    if (!name && value != 0.f) std::abort();
    checkValue(value);
}

}  // namespace

extern "C" {
int initialize(char*) { return 1; }
int process(int, int, unsigned char*, unsigned char**) { return 0; }
int modify_skin_white(float value) { return checkValue(value), 1; }
int modify_skin_smooth(float value) { return checkValue(value), 1; }
int modify_shape_eye_scale(float value) { return checkValue(value), 1; }
int modify_shape_face_thin(float value) { return checkValue(value), 1; }
int modify_filter(char* name, float value) { return checkNamed(name, value), 1; }
int modify_sticker(char* name) { return checkNamed(name, 0.f), 1; }
int modify_makeup_lipstick(char* name, float value) { return checkNamed(name, value), 1; }
int modify_makeup_cheeks(char* name, float value) { return checkNamed(name, value), 1; }
int modify_makeup_eyebrow(char* name, float value) { return checkNamed(name, value), 1; }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The thread applies what is pending before it stops: one pass, on the real thread.
    ProcessThread thread(nullptr);
    thread.start();
    thread.pushCommand(reinterpret_cast<const char*>(data), static_cast<int>(size));
    return 0;
}
