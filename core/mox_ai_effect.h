#pragma once

// The effect engine's C interface. The service links an engine library named mox_ai_effect
// and calls these eleven functions; every engine (the open one, the pass-through one, the
// test recording one) exports exactly these with C linkage.
//
// Calling order: initialize once, first, on the service's main thread; every later call comes
// from the processing thread, one at a time. Pixels are 8-bit BGR, 3 bytes per pixel, rows top
// to bottom without padding. Text arguments are NUL-terminated UTF-8, valid during the call
// only; null turns the effect off. Float values are the command's hundredths (50 -> 0.5).

#if defined(_WIN32)
#if defined(MOX_AI_EFFECT_BUILD)
#define MOX_AI_EFFECT_API __declspec(dllexport)
#else
#define MOX_AI_EFFECT_API __declspec(dllimport)
#endif
#else
#define MOX_AI_EFFECT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Loads the resources from the given folder. Returns non-zero when the engine is ready.
MOX_AI_EFFECT_API int initialize(char* resourceFolder);

// Processes width x height BGR pixels. On success returns non-zero and points *output at
// width * height * 3 processed bytes that the engine owns and keeps valid until its next call.
MOX_AI_EFFECT_API int process(int width, int height, unsigned char* input,
                              unsigned char** output);

MOX_AI_EFFECT_API int modify_skin_white(float value);
MOX_AI_EFFECT_API int modify_skin_smooth(float value);
MOX_AI_EFFECT_API int modify_shape_eye_scale(float value);
MOX_AI_EFFECT_API int modify_shape_face_thin(float value);
MOX_AI_EFFECT_API int modify_filter(char* name, float value);
MOX_AI_EFFECT_API int modify_sticker(char* name);
MOX_AI_EFFECT_API int modify_makeup_lipstick(char* name, float value);
MOX_AI_EFFECT_API int modify_makeup_cheeks(char* name, float value);
MOX_AI_EFFECT_API int modify_makeup_eyebrow(char* name, float value);

#ifdef __cplusplus
}
#endif
