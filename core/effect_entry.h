#pragma once

// One entry of the effect table: an engine function and the kind of its parameter list. The
// function is stored as a generic function pointer and called through the type that kind names.

#include "effect_kind.h"

struct EffectEntry {
    using Function = void (*)();

    EffectKind kind = EffectKind::None;
    Function function = nullptr;
};
