#include "control_command.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "protocol.h"

namespace facelume {
namespace {

Result toHundredths(ControlCommand::Id id, float value, std::string& text) {
    const double scaled = std::round(static_cast<double>(value) * 100.0);
    if (!std::isfinite(scaled) || scaled < std::numeric_limits<std::int32_t>::min() ||
        scaled > std::numeric_limits<std::int32_t>::max()) {
        return {Status::InvalidArgument, std::string("the value for ") +
                                             ControlCommand::controlName(id) +
                                             " is not a finite number the service can carry"};
    }
    text = std::to_string(static_cast<std::int32_t>(scaled));
    return Result::ok();
}

Result toHex(ControlCommand::Id id, const std::string& name, std::string& text) {
    static const char digits[] = "0123456789abcdef";
    text.clear();
    for (const char c : name) {
        if (c == '\0') {
            return {Status::InvalidArgument, std::string("the name for ") +
                                                 ControlCommand::controlName(id) +
                                                 " contains a NUL character"};
        }
        const auto byte = static_cast<unsigned char>(c);
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return Result::ok();
}

std::string prefix(ControlCommand::Id id) {
    return protocol::kCommandEnvelope + std::to_string(id) + " ";
}

}  // namespace

Result ControlCommand::valueLine(Id id, float value, std::string& line) {
    std::string hundredths;
    Result result = toHundredths(id, value, hundredths);
    if (result) line = prefix(id) + hundredths + protocol::kLineEnd;
    return result;
}

Result ControlCommand::namedLine(Id id, const std::string& name, float strength,
                                 std::string& line) {
    std::string hex;
    Result result = toHex(id, name, hex);
    if (!result) return result;
    std::string hundredths = "0";
    // The service ignores the strength of an effect that is turned off.
    if (!name.empty()) {
        result = toHundredths(id, strength, hundredths);
        if (!result) return result;
    }
    line = prefix(id) + hex + protocol::kFieldSeparator + hundredths + protocol::kLineEnd;
    return Result::ok();
}

Result ControlCommand::nameOnlyLine(Id id, const std::string& name, std::string& line) {
    std::string hex;
    Result result = toHex(id, name, hex);
    if (result) line = prefix(id) + hex + protocol::kLineEnd;
    return result;
}

const char* ControlCommand::controlName(Id id) {
    switch (id) {
        case SkinWhite:
            return "skin white";
        case SkinSmooth:
            return "skin smooth";
        case EyeScale:
            return "eye scale";
        case FaceThin:
            return "face thin";
        case Filter:
            return "filter";
        case Sticker:
            return "sticker";
        case Lipstick:
            return "lipstick";
        case Cheeks:
            return "cheeks";
        case Eyebrow:
            return "eyebrow";
    }
    return "control";
}

}  // namespace facelume
