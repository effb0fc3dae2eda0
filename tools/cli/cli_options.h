#pragma once

// The command line of facelume-cli: INPUT OUTPUT and effect options in percent, as the wire
// carries them. parse() checks every value's range and says what is wrong in words.

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
    static std::string usage();

    std::string input;
    std::string output;
    bool help = false;

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
    // A picture goes through the service this many times, as a still video: the engine finds
    // faces on a worker thread and fades face effects in over a few frames.
    int passes = 20;
    int timeoutMs = 10000;

    std::string service;      // facelume to start; empty: the one beside facelume-cli
    std::string receiveName;  // join a running service when set
    std::string sendName;
    int size = 921700;
    bool sizeGiven = false;

    bool joins() const { return !receiveName.empty(); }
};
