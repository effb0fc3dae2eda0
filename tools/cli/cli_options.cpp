#include "cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

namespace {

// Whole decimal numbers only: "70", "-20".
bool toInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

std::string readPercent(const std::string& option, const std::string& text, int low, int high,
                        int& value) {
    long long number = 0;
    if (!toInt(text, number)) {
        return option + " takes a whole number of percent, not \"" + text + "\"";
    }
    if (number < low || number > high) {
        return option + " " + text + " is out of range (" + std::to_string(low) + " to " +
               std::to_string(high) + ")";
    }
    value = static_cast<int>(number);
    return {};
}

// NAME[:PERCENT]; "off" or an empty name turns the effect off.
std::string readNamed(const std::string& option, const std::string& text, bool withStrength,
                      NamedEffect& effect) {
    const auto colon = withStrength ? text.rfind(':') : std::string::npos;
    effect.name = text.substr(0, colon);
    effect.strength = 100;
    if (effect.name == "off") effect.name.clear();
    if (colon == std::string::npos) return {};
    return readPercent(option, text.substr(colon + 1), 0, 100, effect.strength);
}

}  // namespace

std::string CliOptions::usage() {
    return "usage: facelume-cli INPUT OUTPUT [options]\n"
           "  INPUT   an image (.jpg .png .bmp), a video file, or a camera index (0, 1, ...)\n"
           "  OUTPUT  an image, or a video (.mp4 .avi .mkv) written at the input's frame rate\n"
           "effects (percent, as the service takes them):\n"
           "  --white N        skin whitening, 0..100\n"
           "  --smooth N       skin smoothing, 0..100\n"
           "  --eyes N         eye enlargement, -100..100\n"
           "  --thin N         face thinning, -100..100\n"
           "  --filter NAME[:N]     colour look (warm, cool, vivid, fade, mono, film, sepia)\n"
           "  --sticker NAME        sticker (glasses, ...)\n"
           "  --lipstick COLOR[:N]  lipstick, e.g. '#c2185b:60'\n"
           "  --cheeks COLOR[:N]    blush\n"
           "  --eyebrow COLOR[:N]   eyebrow tint\n"
           "  (give \"off\" as NAME or COLOR to turn an effect off)\n"
           "output:\n"
           "  --side-by-side   write the input and the result next to each other\n"
           "  --stats          print frames, dropped frames, latency percentiles, throughput\n"
           "  --frames N       stop after N frames (a camera runs until Ctrl-C otherwise)\n"
           "  --passes N       run a picture through N times as a still video, so that face\n"
           "                   effects have found the face and faded in (default 20)\n"
           "  --timeout MS     wait at most MS for each processed frame (default 10000)\n"
           "service:\n"
           "  --service PATH   the facelume executable to start (default: beside facelume-cli)\n"
           "  --recv NAME --send NAME [--size BYTES]\n"
           "                   join a running service with these channel names instead\n"
           "exit codes: 0 done, 1 processing failed, 2 bad command line, 3 unreadable input,\n"
           "            4 unwritable output, 5 the service did not start\n";
}

std::string CliOptions::parse(const std::vector<std::string>& arguments) {
    using Handler = std::function<std::string(const std::string&, const std::string&)>;
    auto percent = [](std::optional<int>& target, int low, int high) -> Handler {
        return [&target, low, high](const std::string& option, const std::string& text) {
            int value = 0;
            std::string error = readPercent(option, text, low, high, value);
            if (error.empty()) target = value;
            return error;
        };
    };
    auto named = [](std::optional<NamedEffect>& target, bool withStrength) -> Handler {
        return [&target, withStrength](const std::string& option, const std::string& text) {
            NamedEffect effect;
            std::string error = readNamed(option, text, withStrength, effect);
            if (error.empty()) target = effect;
            return error;
        };
    };
    auto number = [](int& target, int low, int high) -> Handler {
        return [&target, low, high](const std::string& option, const std::string& text) {
            return readPercent(option, text, low, high, target);
        };
    };
    auto text = [](std::string& target) -> Handler {
        return [&target](const std::string& option, const std::string& value) {
            if (value.empty()) return option + " needs a value";
            target = value;
            return std::string();
        };
    };
    const std::map<std::string, Handler> withValue = {
        {"--white", percent(white, 0, 100)},
        {"--smooth", percent(smooth, 0, 100)},
        {"--eyes", percent(eyes, -100, 100)},
        {"--thin", percent(thin, -100, 100)},
        {"--filter", named(filter, true)},
        {"--sticker", named(sticker, false)},
        {"--lipstick", named(lipstick, true)},
        {"--cheeks", named(cheeks, true)},
        {"--eyebrow", named(eyebrow, true)},
        {"--frames", number(maxFrames, 1, 1 << 30)},
        {"--passes", number(passes, 1, 1000)},
        {"--timeout", number(timeoutMs, 1, 3600000)},
        {"--service", text(service)},
        {"--recv", text(receiveName)},
        {"--send", text(sendName)},
        {"--size",
         [this](const std::string& option, const std::string& value) {
             sizeGiven = true;
             return readPercent(option, value, 16, 0x7FFFFFFF, size);
         }},
    };
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            help = true;
            return {};
        }
        if (argument == "--side-by-side") {
            sideBySide = true;
        } else if (argument == "--stats") {
            stats = true;
        } else if (argument.size() > 1 && argument[0] == '-' &&
                   argument.find_first_not_of("0123456789", 1) != std::string::npos) {
            const auto equals = argument.find('=');
            const std::string option = argument.substr(0, equals);
            const auto handler = withValue.find(option);
            if (handler == withValue.end()) return "unknown option " + option;
            std::string value;
            if (equals != std::string::npos) {
                value = argument.substr(equals + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                return option + " needs a value";
            }
            std::string error = handler->second(option, value);
            if (!error.empty()) return error;
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2) return "give one INPUT and one OUTPUT";
    input = positional[0];
    output = positional[1];
    if (receiveName.empty() != sendName.empty()) {
        return "--recv and --send name a running service's channel together";
    }
    if (sizeGiven && !joins()) return "--size goes with --recv and --send";
    if (joins() && !service.empty()) return "--service starts a service; --recv/--send join one";
    return {};
}
