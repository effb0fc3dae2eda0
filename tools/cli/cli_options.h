#pragma once

// The command line of facelume-cli: INPUT OUTPUT and effect options in percent, as the wire
// carries them, also read from a preset file (--preset, a YAML map of the same options, which
// the command line overrides). parse() checks every value's range and says what is wrong in words.

#include <optional>
#include <string>
#include <vector>

struct NamedEffect {
    std::string name;  // empty: off
    int strength = 100;
};

class CliOptions {
public:
    // Empty on success, otherwise the reason the command line is refused.
    std::string parse(const std::vector<std::string>& arguments);

    // Also the names --help lists, from the resource folder of the service that would start.
    static std::string usage(const std::string& resourceFolder);
    static std::string shortUsage();

    std::string input;   // a file, a camera index, or "-" (raw BGR frames on standard input)
    std::string output;  // a file, "-" (raw BGR frames on standard output), or a video device
    bool help = false;
    bool version = false;

    std::optional<int> white;
    std::optional<int> smooth;
    std::optional<int> eyes;
    std::optional<int> thin;
    std::optional<NamedEffect> filter;
    std::optional<NamedEffect> sticker;
    std::optional<NamedEffect> lipstick;
    std::optional<NamedEffect> cheeks;
    std::optional<NamedEffect> eyebrow;

    bool sideBySide = false;
    bool stats = false;
    int maxFrames = 0;  // 0: all
    // A picture goes through the service this many times, as a still video; 0: until its face
    // effects have arrived (the engine finds faces on a worker thread and fades effects in).
    int passes = 0;
    int timeoutMs = 10000;
    // Frame size of raw frames ("-" as INPUT).
    int rawWidth = 0;
    int rawHeight = 0;
    bool toDevice = false;  // OUTPUT is a V4L2 output device (--to-device), INPUT a camera
    std::string camera;
    std::string device;
    std::string presetFolder;  // where a preset given by plain name is looked for

    std::string service;      // facelume to start; empty: the one beside facelume-cli
    std::string receiveName;  // join a running service when set
    std::string sendName;
    int channelSize = 921700;
    bool channelSizeGiven = false;

    bool joins() const { return !receiveName.empty(); }
    bool hasFaceEffects() const;

private:
    std::string readFrameSize(const std::string& option, const std::string& text);
    std::string readPreset(const std::string& path, std::vector<std::string>& arguments);
};
