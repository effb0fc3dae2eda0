#pragma once

// Make-up colours by name: "#rrggbb" (hex, either case) or a name from the colour table
// "<resources>/makeup/colors.yml", a map "colors" of name -> "#rrggbb" (see TableFile).
// Names are matched without regard to case. Load once at configure time; read-only afterwards.

#include <map>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "load_result.h"

namespace facelume {

class ColorTable {
public:
    // path: UTF-8. On failure the table is left empty (hex colours still resolve).
    LoadResult load(const std::string& path);

    // The colour in (b, g, r) order, or nothing when the name is neither hex nor in the table.
    std::optional<cv::Vec3b> find(const std::string& name) const;
    // The table's names, sorted and comma separated ("none" when empty), for messages.
    std::string listing() const;

    static std::optional<cv::Vec3b> parseHex(const std::string& text);

private:
    std::map<std::string, cv::Vec3b> m_colors;
};

}  // namespace facelume
