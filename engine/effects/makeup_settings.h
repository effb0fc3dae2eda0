#pragma once

// The colour and strength of one make-up control as a client sets them. configure() resolves
// the name ("#rrggbb" or a name from "<resources>/makeup/colors.yml", read on first need and
// kept), takes the strength as given (0..1, clamped by the engine) and reports an unknown name
// with one line on standard error. Null or empty names, unknown names and a strength of 0 or
// less leave the control off, which is also where it starts. One thread at a time; never
// throws.

#include <string>

#include "color_table.h"

namespace facelume {

class MakeupSettings {
public:
    // controlName names the control in messages ("lipstick").
    MakeupSettings(std::string resourceFolder, std::string controlName);

    void configure(const char* name, float strength);
    bool active() const { return m_known && m_strength > 0.f; }
    cv::Vec3b color() const { return m_color; }  // (b, g, r)
    float strength() const { return m_strength; }

private:
    void reportUnknown(const std::string& name) const;

    std::string m_tablePath;
    std::string m_control;
    ColorTable m_table;
    bool m_tableRead = false;
    std::string m_tableError;
    bool m_known = false;
    cv::Vec3b m_color;
    float m_strength = 0.f;
};

}  // namespace facelume
