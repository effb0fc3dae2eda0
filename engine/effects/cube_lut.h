#pragma once

// A 3D colour lookup table as grading tools export it in the .cube text format: optional
// TITLE, LUT_3D_SIZE N (2..256), optional DOMAIN_MIN / DOMAIN_MAX (or LUT_3D_INPUT_RANGE),
// "#" comments, then N*N*N lines "r g b" with red changing fastest, then green, then blue.
// Files are read strictly: a malformed file is refused with a message naming the line.
// Unknown vendor keywords before the table are skipped. 1D tables are not supported.
// A plain value object; not shared between threads.

#include <istream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "load_result.h"

namespace facelume {

class CubeLut {
public:
    // path: UTF-8. On failure the table is left empty.
    LoadResult load(const std::string& path);
    // sourceName names the text in messages (usually the file name).
    LoadResult parse(std::istream& in, const std::string& sourceName);

    bool empty() const { return m_table.empty(); }
    int size() const { return m_size; }
    const std::string& title() const { return m_title; }
    // Input range per channel, in (r, g, b) order.
    const cv::Vec3f& domainMin() const { return m_domainMin; }
    const cv::Vec3f& domainMax() const { return m_domainMax; }
    // Output colour (r, g, b) at the lattice point with these indices.
    const cv::Vec3f& at(int r, int g, int b) const {
        return m_table[(static_cast<size_t>(b) * m_size + g) * m_size + r];
    }

private:
    void clear();

    int m_size = 0;
    std::string m_title;
    cv::Vec3f m_domainMin{0.f, 0.f, 0.f};
    cv::Vec3f m_domainMax{1.f, 1.f, 1.f};
    std::vector<cv::Vec3f> m_table;
};

}  // namespace facelume
