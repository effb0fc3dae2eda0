#pragma once

// The names a service's resource folder offers, so that the SDK refuses a name the engine would
// ignore: filters (filters/<name>.cube), stickers (stickers/<name>.png) and make-up colours
// (the entries of makeup/colors.yml, matched without regard to case, and any "#rrggbb").
// Read once when a client starts or joins a service; read-only afterwards.

#include <string>
#include <vector>

#include "facelume_client.h"

namespace facelume {

class ResourceCatalogue {
public:
    // Reads the folder. An empty path leaves the names unknown: then only the form of a colour
    // is checked.
    void load(const std::string& folder);
    const std::string& folder() const { return m_folder; }

    // Ok for an empty name (an effect turned off) and for a name the folder offers.
    Result check(NameKind kind, const std::string& name) const;
    const std::vector<std::string>& names(NameKind kind) const;

    // beauty_res beside the executable, else the installed one relative to it; empty if neither.
    static std::string folderFor(const std::string& executable);
    static bool isHexColour(const std::string& text);

private:
    std::string m_folder;
    std::vector<std::string> m_filters;
    std::vector<std::string> m_stickers;
    std::vector<std::string> m_colours;
};

}  // namespace facelume
