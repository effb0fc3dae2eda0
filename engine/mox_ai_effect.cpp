// The open engine's C interface: a thin layer over one Engine. Every call is guarded so that no
// exception crosses into the service; values arrive already divided by 100 and are clamped by
// the engine to the ranges of its control list (control.h). The service calls initialize first,
// then everything else from one thread.

#include "mox_ai_effect.h"

#include <cstdio>
#include <memory>
#include <string>

#include "control.h"
#include "engine.h"
#include "guarded_call.h"

using facelume::control;
using facelume::Engine;
using facelume::GuardedCall;

namespace {

// The C interface has no handle, so the engine it drives lives here.
Engine& engine() {
    static Engine instance;
    return instance;
}

}  // namespace

int initialize(char* resourceFolder) {
    return GuardedCall::run("initialize", 0, [&] {
        if (resourceFolder == nullptr) {
            std::fprintf(stderr, "facelume engine: no resource folder given\n");
            return 0;
        }
        std::string error;
        if (!engine().initialize(resourceFolder, error)) {
            std::fprintf(stderr, "facelume engine: %s\n", error.c_str());
            return 0;
        }
        return 1;
    });
}

int process(int width, int height, unsigned char* input, unsigned char** output) {
    return GuardedCall::run("process", 0, [&] {
        if (output == nullptr) return 0;
        const unsigned char* result = engine().process(width, height, input);
        if (result == nullptr) return 0;
        *output = const_cast<unsigned char*>(result);
        return 1;
    });
}

int modify_skin_white(float value) {
    return GuardedCall::run(control(protocol::kSkinWhite).function, 0, [&] {
        engine().setSkinWhite(value);
        return 1;
    });
}

int modify_skin_smooth(float value) {
    return GuardedCall::run(control(protocol::kSkinSmooth).function, 0, [&] {
        engine().setSkinSmooth(value);
        return 1;
    });
}

int modify_shape_eye_scale(float value) {
    return GuardedCall::run(control(protocol::kEyeScale).function, 0, [&] {
        engine().setEyeScale(value);
        return 1;
    });
}

int modify_shape_face_thin(float value) {
    return GuardedCall::run(control(protocol::kFaceThin).function, 0, [&] {
        engine().setFaceThin(value);
        return 1;
    });
}

int modify_filter(char* name, float value) {
    return GuardedCall::run(control(protocol::kFilter).function, 0, [&] {
        engine().setFilter(name, value);
        return 1;
    });
}

int modify_sticker(char* name) {
    return GuardedCall::run(control(protocol::kSticker).function, 0, [&] {
        engine().setSticker(name);
        return 1;
    });
}

int modify_makeup_lipstick(char* name, float value) {
    return GuardedCall::run(control(protocol::kLipstick).function, 0, [&] {
        engine().setLipstick(name, value);
        return 1;
    });
}

int modify_makeup_cheeks(char* name, float value) {
    return GuardedCall::run(control(protocol::kCheeks).function, 0, [&] {
        engine().setCheeks(name, value);
        return 1;
    });
}

int modify_makeup_eyebrow(char* name, float value) {
    return GuardedCall::run(control(protocol::kEyebrow).function, 0, [&] {
        engine().setEyebrow(name, value);
        return 1;
    });
}
