#pragma once

// The recording test engine: a mox_ai_effect library (libmox_ai_effect.so, built into
// build*/tests/recording/) that stands in for the effect engine in the service's tests. It
// exports the eleven engine functions plus the accessors below.
//
// Behaviour:
// - initialize returns 1 when the folder exists, 0 when it does not or when told to fail.
// - process writes width * height * 3 bytes, each the input byte inverted (255 - b), into an
//   output buffer it owns and reuses, and returns 1 (or the result it was told to return; with 0
//   it writes nothing).
// - the modify functions return 1 and change nothing.
// Every call is logged, in call order, as one line:
//   initialize <folder>
//   process <width> <height> <first input byte in decimal>
//   modify_skin_white <value>            (also skin_smooth, shape_eye_scale, shape_face_thin)
//   modify_filter <name> <value>         (also makeup_lipstick, makeup_cheeks, makeup_eyebrow)
//   modify_sticker <name>
// <value> is printed with %g (0.5, -0.25, 0); <name> is null for a null pointer, otherwise the
// text in double quotes with '"', '\' and bytes below 0x20 written as \xNN.
//
// Switches (read from the environment at the engine's first call and on RecordingEngine::reset):
//   FACELUME_RECORDING_LOG=<file>           append every line to <file> (EngineLog sets it)
//   FACELUME_RECORDING_FAIL_INIT=1          initialize returns 0
//   FACELUME_RECORDING_PROCESS_RESULT=0     process returns 0
//
// RecordingEngine steers the engine of tests that load it into their own process. Its functions
// may be called from any thread.

#include "mox_ai_effect.h"

#ifdef __cplusplus
class MOX_AI_EFFECT_API RecordingEngine {
public:
    // Resets the switches to what the environment says.
    static void reset();
    static void setProcessResult(int result);
    // While held, process records its call and then waits (10 s at most) until released.
    static void holdProcess(bool hold);
};
#endif
