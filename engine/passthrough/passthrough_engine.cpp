// The pass-through engine: an effect engine that hands every frame back unchanged. initialize
// succeeds when the resource folder exists; process copies the input pixels into an output
// buffer that the engine owns and reuses; the modify functions accept every value and change
// nothing. It lets the service run end to end without the open engine and serves as the
// baseline in benchmarks.

#include <cstring>
#include <filesystem>
#include <vector>

#include "mox_ai_effect.h"

namespace {

std::vector<unsigned char> g_output;

}  // namespace

extern "C" {

int initialize(char* resourceFolder) {
    if (!resourceFolder) return 0;
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::u8path(resourceFolder), error) ? 1 : 0;
}

int process(int width, int height, unsigned char* input, unsigned char** output) {
    if (width <= 0 || height <= 0 || !input || !output) return 0;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    if (g_output.size() < bytes) g_output.resize(bytes);
    std::memcpy(g_output.data(), input, bytes);
    *output = g_output.data();
    return 1;
}

// The engine has no effects, so every value is accepted and changes nothing.
int modify_skin_white(float) { return 1; }

int modify_skin_smooth(float) { return 1; }

int modify_shape_eye_scale(float) { return 1; }

int modify_shape_face_thin(float) { return 1; }

int modify_filter(char*, float) { return 1; }

int modify_sticker(char*) { return 1; }

int modify_makeup_lipstick(char*, float) { return 1; }

int modify_makeup_cheeks(char*, float) { return 1; }

int modify_makeup_eyebrow(char*, float) { return 1; }

}  // extern "C"
