#pragma once

// The engine's nine controls in the service's order: the C entry point that sets each and the
// range its value is clamped to. The engine clamps here and nowhere else; the effects take their
// values in range. The ids are the wire's, from ipc/protocol.

#include <array>
#include <cstddef>

#include "protocol.h"

namespace facelume {

struct Control {
    protocol::ControlId id;
    const char* function;
    float low;
    float high;

    // The value inside [low, high]; one that is not a number turns the control off (0) instead
    // of spreading NaN through the pixels.
    float clamp(float value) const;
};

inline constexpr std::array<Control, 9> kControls = {{
    {protocol::kSkinWhite, "modify_skin_white", 0.f, 1.f},
    {protocol::kSkinSmooth, "modify_skin_smooth", 0.f, 1.f},
    {protocol::kEyeScale, "modify_shape_eye_scale", -1.f, 1.f},
    {protocol::kFaceThin, "modify_shape_face_thin", -1.f, 1.f},
    {protocol::kFilter, "modify_filter", 0.f, 1.f},
    {protocol::kSticker, "modify_sticker", 0.f, 0.f},  // a name and no value
    {protocol::kLipstick, "modify_makeup_lipstick", 0.f, 1.f},
    {protocol::kCheeks, "modify_makeup_cheeks", 0.f, 1.f},
    {protocol::kEyebrow, "modify_makeup_eyebrow", 0.f, 1.f},
}};

constexpr const Control& control(protocol::ControlId id) {
    return kControls[std::size_t(id - protocol::kFirstControlId)];
}

constexpr bool listedInWireOrder() {
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        if (kControls[i].id != protocol::kFirstControlId + int(i)) return false;
    }
    return kControls.size() == std::size_t(protocol::kLastControlId - protocol::kFirstControlId + 1);
}
static_assert(listedInWireOrder(), "one entry per control id, in the ids' order");

}  // namespace facelume
