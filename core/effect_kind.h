#pragma once

// The parameter lists an engine effect function can have. The kind of an effect decides how a
// control command's payload is read and through which function type the engine is called.

#include <cstdint>

enum class EffectKind : std::int32_t {
    None = 0,       // not a known function type; commands for it are ignored
    Float = 1,      // int (*)(float): value
    TextFloat = 2,  // int (*)(char*, float): name, value
    Text = 3,       // int (*)(char*): name
};
