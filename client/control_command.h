#pragma once

// The text lines that steer the service's effects: "[CMD]", the control's id, a blank, then
// fields separated by "|", ended by a line feed. Values travel as whole hundredths, names as the
// hexadecimal digits of their UTF-8 bytes; an empty name turns the effect off. Stateless.

#include <string>

#include "facelume_client.h"
#include "protocol.h"

namespace facelume {

class ControlCommand {
public:
    // Control ids as the service numbers them.
    enum Id {
        SkinWhite = protocol::kSkinWhite,
        SkinSmooth = protocol::kSkinSmooth,
        EyeScale = protocol::kEyeScale,
        FaceThin = protocol::kFaceThin,
        Filter = protocol::kFilter,
        Sticker = protocol::kSticker,
        Lipstick = protocol::kLipstick,
        Cheeks = protocol::kCheeks,
        Eyebrow = protocol::kEyebrow,
    };

    // A value control: "[CMD]0 50\n" for 0.5.
    static Result valueLine(Id id, float value, std::string& line);
    // A named control with a strength: "[CMD]4 7761726d|80\n" for ("warm", 0.8); off: "[CMD]4
    // |0\n".
    static Result namedLine(Id id, const std::string& name, float strength, std::string& line);
    // The sticker: "[CMD]5 676c6173736573\n"; off: "[CMD]5 \n".
    static Result nameOnlyLine(Id id, const std::string& name, std::string& line);

    static const char* controlName(Id id);
};

}  // namespace facelume
