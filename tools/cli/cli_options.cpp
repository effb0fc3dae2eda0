#include "cli_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "facelume_client.h"
#include "table_file.h"

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

namespace {

std::string names(const std::string& folder, facelume::NameKind kind) {
    std::string text;
    for (const std::string& name : facelume::availableNames(folder, kind)) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text.empty() ? "none found" : text;
}

// Breaks a long list into lines of the help's width.
std::string wrapped(const std::string& text, const std::string& indent) {
    std::string out;
    std::string line = indent;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (line.size() + word.size() > 96 && line.size() > indent.size()) {
            out += line + "\n";
            line = indent;
        }
        line += (line.size() > indent.size() ? " " : "") + word;
        start = end + 1;
    }
    return out + line + "\n";
}

}  // namespace

std::string CliOptions::shortUsage() {
    return "usage: facelume-cli INPUT OUTPUT [options]   (facelume-cli --help for the options)\n";
}

std::string CliOptions::usage(const std::string& resourceFolder) {
    std::string text =
        "usage: facelume-cli INPUT OUTPUT [options]\n"
        "  INPUT   a picture (.jpg .png .bmp .tif .webp), a video file, a camera index (0, 1, "
        "...),\n"
        "          or - for raw BGR frames on standard input (give --size WxH)\n"
        "  OUTPUT  a picture, a video (.mp4 .mkv: H.264, .avi: MJPEG) at the input's frame rate\n"
        "          with the input's sound, or - for raw BGR frames on standard output\n"
        "effects (percent, as the service takes them):\n"
        "  --white N        skin whitening, 0..100\n"
        "  --smooth N       skin smoothing, 0..100\n"
        "  --eyes N         eye enlargement, -100..100\n"
        "  --thin N         face thinning, -100..100\n"
        "  --filter NAME[:N]     colour look\n"
        "  --sticker NAME        sticker\n"
        "  --lipstick COLOR[:N]  lipstick, e.g. '#c2185b:60'\n"
        "  --cheeks COLOR[:N]    blush\n"
        "  --eyebrow COLOR[:N]   eyebrow tint\n"
        "  (give \"off\" as NAME or COLOR to turn an effect off)\n"
        "  --preset FILE    read effect options from a YAML file (smooth: 70, filter: warm:80, "
        "...);\n"
        "                   a plain name is one of the service's presets; options given here win\n";
    if (!resourceFolder.empty()) {
        text += "names in " + resourceFolder + ":\n";
        text += wrapped("filters: " + names(resourceFolder, facelume::NameKind::Filter), "  ");
        text += wrapped("stickers: " + names(resourceFolder, facelume::NameKind::Sticker), "  ");
        text += wrapped("colours: #rrggbb or " + names(resourceFolder, facelume::NameKind::Colour),
                        "  ");
    }
    text +=
        "output:\n"
        "  --side-by-side   write the input and the result next to each other\n"
        "  --stats          print frames, dropped frames, latency percentiles, throughput\n"
        "  --frames N       stop after N frames (a camera runs until Ctrl-C otherwise)\n"
        "  --passes N       run a picture through exactly N times as a still video (default:\n"
        "                   until its face effects have arrived, or no face was found)\n"
        "  --timeout MS     wait at most MS for each processed frame (default 10000)\n"
        "  --size WxH       the frame size of raw frames on standard input\n"
        "  --camera N --to-device /dev/videoN\n"
        "                   camera N through the effects into a V4L2 output device (a virtual\n"
        "                   camera made by v4l2loopback), until Ctrl-C\n"
        "service:\n"
        "  --service PATH   the facelume executable to start (default: beside facelume-cli)\n"
        "  --recv NAME --send NAME [--channel-size BYTES]\n"
        "                   join a running service with these channel names instead\n"
        "  --version        print the version\n"
        "exit codes: 0 done, 1 processing failed, 2 bad command line, 3 unreadable input,\n"
        "            4 unwritable output, 5 the service did not start, 130 interrupted (Ctrl-C),\n"
        "            143 / 129 stopped by SIGTERM / SIGHUP\n";
    return text;
}

bool CliOptions::hasFaceEffects() const {
    auto on = [](const std::optional<int>& value) { return value && *value != 0; };
    auto named = [](const std::optional<NamedEffect>& effect) {
        return effect && !effect->name.empty() && effect->strength != 0;
    };
    return on(white) || on(smooth) || on(eyes) || on(thin) || named(lipstick) || named(cheeks) ||
           named(eyebrow) || (sticker && !sticker->name.empty());
}

std::string CliOptions::readPreset(const std::string& path, std::vector<std::string>& arguments) {
    static const char* const kKeys[] = {"white",   "smooth",   "eyes",   "thin",   "filter",
                                        "sticker", "lipstick", "cheeks", "eyebrow"};
    std::string file = path;
    const bool plainName = path.find('/') == std::string::npos;
    if (plainName && !presetFolder.empty() && !std::ifstream(file).good()) {
        file = presetFolder + "/" + path + ".yml";
    }
    if (!std::ifstream(file).good()) return "cannot read the preset " + path;
    facelume::TableFile table;
    std::string problem;
    if (!table.load(file, problem)) {
        return "the preset " + path + " is not readable YAML (" + problem + ")";
    }
    for (const facelume::TableFile::Entry& entry : table.entries()) {
        if (std::find(std::begin(kKeys), std::end(kKeys), entry.key) == std::end(kKeys)) {
            return "the preset " + path + " has an unknown option \"" + entry.key + "\"";
        }
        if (entry.list || entry.isMap) {
            return "the preset " + path + " gives " + entry.key + " neither a number nor a name";
        }
        arguments.push_back("--" + entry.key);
        arguments.push_back(entry.values.front());
    }
    return {};
}

std::string CliOptions::readFrameSize(const std::string& option, const std::string& text) {
    const auto x = text.find('x');
    long long width = 0;
    long long height = 0;
    if (x == std::string::npos || !toInt(text.substr(0, x), width) ||
        !toInt(text.substr(x + 1), height) || width <= 0 || height <= 0 || width > 65535 ||
        height > 65535) {
        return option + " takes WIDTHxHEIGHT in pixels, such as 1280x720, not \"" + text + "\"";
    }
    rawWidth = static_cast<int>(width);
    rawHeight = static_cast<int>(height);
    return {};
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
        {"--channel-size",
         [this](const std::string& option, const std::string& value) {
             channelSizeGiven = true;
             return readPercent(option, value, 16, 0x7FFFFFFF, channelSize);
         }},
        {"--size", [this](const std::string& option,
                          const std::string& value) { return readFrameSize(option, value); }},
        {"--camera", text(camera)},
        {"--to-device", text(device)},
    };
    std::vector<std::string> all;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != "--preset") continue;
        if (i + 1 >= arguments.size()) return "--preset needs a value";
        std::string error = readPreset(arguments[i + 1], all);
        if (!error.empty()) return error;
    }
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--preset") {
            ++i;
        } else {
            all.push_back(arguments[i]);
        }
    }
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string& argument = all[i];
        if (argument == "-h" || argument == "--help") {
            // Read on: --service names the service whose names the help lists.
            help = true;
            continue;
        }
        if (argument == "--version") {
            version = true;
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
            } else if (i + 1 < all.size()) {
                value = all[++i];
            } else {
                return option + " needs a value";
            }
            std::string error = handler->second(option, value);
            if (!error.empty()) return error;
        } else {
            positional.push_back(argument);
        }
    }
    if (help) return {};
    if (!camera.empty()) positional.insert(positional.begin(), camera);
    if (!device.empty()) {
        if (positional.size() != 1) {
            return "--to-device DEVICE takes one INPUT (or --camera N) and no OUTPUT";
        }
        positional.push_back(device);
        toDevice = true;
    } else if (!camera.empty()) {
        return "--camera N goes with --to-device /dev/videoN";
    }
    if (positional.size() != 2) return "give one INPUT and one OUTPUT";
    input = positional[0];
    output = positional[1];
    if ((input == "-") != (rawWidth > 0)) return "--size WxH goes with - as INPUT, and - needs it";
    if (receiveName.empty() != sendName.empty()) {
        return "--recv and --send name a running service's channel together";
    }
    if (channelSizeGiven && !joins()) return "--channel-size goes with --recv and --send";
    if (joins() && !service.empty()) return "--service starts a service; --recv/--send join one";
    return {};
}
