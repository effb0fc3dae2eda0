#include "face_makeup.h"

#include <cstdio>

#include "face_geometry.h"

namespace facelume {

FaceMakeup::FaceMakeup(std::string resourceFolder, const char* kind, const char* label)
    : m_settings(std::move(resourceFolder), kind), m_label(label) {}

void FaceMakeup::configure(const char* name, float strength) {
    m_settings.configure(name, strength);
}

bool FaceMakeup::active() const { return m_settings.active(); }

void FaceMakeup::apply(cv::Mat& frame, const std::vector<Face>& faces) {
    if (!active() || frame.type() != CV_8UC3) return;
    try {
        for (const Face& face : faces) {
            const FaceGeometry geometry(face);
            if (geometry.usable()) paintFace(frame, geometry);
        }
    } catch (const std::exception& error) {
        // One line is enough: the same failure would repeat on every frame.
        if (!m_failureReported)
            std::fprintf(stderr, "facelume: %s skipped: %s\n", m_label, error.what());
        m_failureReported = true;
    }
}

}  // namespace facelume
