#include "makeup_settings.h"

#include <cstdio>
#include <utility>

namespace facelume {

MakeupSettings::MakeupSettings(std::string resourceFolder, std::string controlName)
    : m_tablePath(std::move(resourceFolder) + "/makeup/colors.yml"),
      m_control(std::move(controlName)) {}

void MakeupSettings::configure(const char* name, float strength) {
    m_known = false;
    m_strength = strength;
    if (name == nullptr || *name == '\0') return;
    const std::string wanted(name);
    std::optional<cv::Vec3b> color = ColorTable::parseHex(wanted);
    if (!color) {
        if (!m_tableRead) {
            m_tableError = m_table.load(m_tablePath).error;
            m_tableRead = true;
        }
        color = m_table.find(wanted);
    }
    if (!color) return reportUnknown(wanted);
    m_color = *color;
    m_known = true;
}

void MakeupSettings::reportUnknown(const std::string& name) const {
    if (m_tableError.empty()) {
        std::fprintf(stderr, "facelume: unknown %s colour \"%s\", use #rrggbb or one of: %s\n",
                     m_control.c_str(), name.c_str(), m_table.listing().c_str());
    } else {
        std::fprintf(stderr,
                     "facelume: unknown %s colour \"%s\", use #rrggbb (no named colours: %s)\n",
                     m_control.c_str(), name.c_str(), m_tableError.c_str());
    }
}

}  // namespace facelume
