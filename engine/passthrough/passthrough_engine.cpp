// The pass-through engine: an effect engine that hands every frame back unchanged. initialize
// succeeds when the resource folder exists; process copies the input pixels into an output
// buffer that the engine owns and reuses; the modify functions store their values and change
// nothing. It lets the service run end to end without the open engine and serves as the
// baseline in benchmarks.

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mox_ai_effect.h"

namespace {

struct NamedValue {
    std::string name;
    float value = 0.0f;
};

struct Settings {
    float skinWhite = 0.0f;
    float skinSmooth = 0.0f;
    float eyeScale = 0.0f;
    float faceThin = 0.0f;
    NamedValue filter;
    std::string sticker;
    NamedValue lipstick;
    NamedValue cheeks;
    NamedValue eyebrow;
};

Settings g_settings;
std::vector<unsigned char> g_output;

int store(NamedValue* target, const char* name, float value) {
    target->name = name ? name : "";
    target->value = name ? value : 0.0f;
    return 1;
}

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

int modify_skin_white(float value) {
    g_settings.skinWhite = value;
    return 1;
}

int modify_skin_smooth(float value) {
    g_settings.skinSmooth = value;
    return 1;
}

int modify_shape_eye_scale(float value) {
    g_settings.eyeScale = value;
    return 1;
}

int modify_shape_face_thin(float value) {
    g_settings.faceThin = value;
    return 1;
}

int modify_filter(char* name, float value) { return store(&g_settings.filter, name, value); }

int modify_sticker(char* name) {
    g_settings.sticker = name ? name : "";
    return 1;
}

int modify_makeup_lipstick(char* name, float value) {
    return store(&g_settings.lipstick, name, value);
}

int modify_makeup_cheeks(char* name, float value) { return store(&g_settings.cheeks, name, value); }

int modify_makeup_eyebrow(char* name, float value) {
    return store(&g_settings.eyebrow, name, value);
}

}  // extern "C"
