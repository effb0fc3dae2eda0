#pragma once

// Reads the small YAML files of the engine and its tools (make-up colours, sticker placement,
// effect presets): an optional "%YAML:1.0" line and a "---" line, then lines "key: value", a
// value being a number, a word, a "quoted text" or a [ list, of, such, values ]; a key with
// nothing after its colon opens a map of such lines indented below it. '#' starts a comment
// outside quotes. Anything else is refused with its line number. Our own reader: OpenCV's
// FileStorage parser hangs on some malformed files. Nothing is thrown.

#include <optional>
#include <string>
#include <vector>

namespace facelume {

class TableFile {
public:
    struct Entry {
        std::string key;
        // One value for a scalar, any number for a list; none for a map.
        std::vector<std::string> values;
        bool list = false;
        std::vector<Entry> children;  // a map's lines
        bool isMap = false;
    };

    // path: UTF-8. On failure returns false and sets error to the problem, with its line number
    // where there is one (the caller adds the path).
    [[nodiscard]] bool load(const std::string& path, std::string& error);
    [[nodiscard]] bool parse(const std::string& text, std::string& error);

    const std::vector<Entry>& entries() const { return m_entries; }
    // The top-level entry of that key, or nullptr.
    const Entry* find(const std::string& key) const;

    // A value as a finite number, or nothing.
    static std::optional<double> number(const std::string& text);
    static std::optional<int> integer(const std::string& text);

private:
    bool parseLine(const std::string& line, int number, std::string& error);

    std::vector<Entry> m_entries;
    bool m_started = false;
};

}  // namespace facelume
