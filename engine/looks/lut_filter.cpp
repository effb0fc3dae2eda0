#include "lut_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cube_lut.h"
#include "resource_directory.h"

namespace facelume {

namespace {

constexpr int kFractionOne = 256;

int toMix(float strength) {
    if (!(strength > 0.f)) return 0;  // NaN too
    return static_cast<int>(std::lround(std::min(strength, 1.f) * kFractionOne));
}

}  // namespace

LutFilter::LutFilter(std::string resourceFolder) : m_folder(std::move(resourceFolder)) {}

void LutFilter::configure(const char* name, float strength) {
    if (name == nullptr || *name == '\0') return turnOff();
    const std::string wanted(name);
    m_mix = toMix(strength);
    if (wanted == m_name) return;

    const ResourceDirectory filters(m_folder + "/filters", ".cube");
    const std::string path = filters.find(wanted);
    if (path.empty()) {
        std::fprintf(stderr, "facelume: unknown filter \"%s\", available in %s: %s\n",
                     wanted.c_str(), filters.folder().c_str(), filters.listing().c_str());
        return turnOff();
    }
    CubeLut lut;
    const LoadResult loaded = lut.load(path);
    if (!loaded.ok()) {
        std::fprintf(stderr, "facelume: filter \"%s\" not loaded: %s\n", wanted.c_str(),
                     loaded.error.c_str());
        return turnOff();
    }
    prepare(lut);
    m_name = wanted;
}

bool LutFilter::active() const { return !m_name.empty() && m_mix > 0; }

void LutFilter::turnOff() {
    m_name.clear();
    m_mix = 0;
}

void LutFilter::prepare(const CubeLut& lut) {
    const int n = lut.size();
    m_size = n;
    m_lattice.resize(static_cast<size_t>(n) * n * n * 3);
    int32_t* out = m_lattice.data();
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const cv::Vec3f& rgb = lut.at(r, g, b);
                for (int c = 0; c < 3; ++c) {
                    const float value = std::clamp(rgb[2 - c], 0.f, 1.f);
                    *out++ = static_cast<int32_t>(std::lround(value * 255.f * kFractionOne));
                }
            }
        }
    }
    // Lattice steps of the frame's blue, green and red channels.
    const int32_t stride[3] = {3 * n * n, 3 * n, 3};
    for (int c = 0; c < 3; ++c) {
        const float low = lut.domainMin()[2 - c];
        const float high = lut.domainMax()[2 - c];
        for (int v = 0; v < 256; ++v) {
            const float t = std::clamp((v / 255.f - low) / (high - low), 0.f, 1.f);
            const float position = t * static_cast<float>(n - 1);
            const int index = std::min(static_cast<int>(position), n - 2);
            m_offset[c][v] = index * stride[c];
            m_fraction[c][v] = static_cast<int32_t>(std::lround((position - index) * kFractionOne));
        }
    }
}

void LutFilter::apply(cv::Mat& frame, const std::vector<Face>&) {
    if (!active() || frame.type() != CV_8UC3) return;
    const int n = m_size;
    const int32_t strideB = 3 * n * n, strideG = 3 * n, strideR = 3;
    const int32_t* lattice = m_lattice.data();
    const int mix = m_mix;
    for (int y = 0; y < frame.rows; ++y) {
        uint8_t* p = frame.ptr<uint8_t>(y);
        for (int x = 0; x < frame.cols; ++x, p += 3) {
            const int b = p[0], g = p[1], r = p[2];
            const int32_t* c0 = lattice + m_offset[0][b] + m_offset[1][g] + m_offset[2][r];
            const int fb = m_fraction[0][b], fg = m_fraction[1][g], fr = m_fraction[2][r];
            // Tetrahedral interpolation: walk from the lower corner along the channels in
            // decreasing order of their fractions; the weights are the fraction differences.
            int32_t s1, s2, w0, w1, w2, w3;
            if (fr > fg) {
                if (fg > fb) {
                    s1 = strideR, s2 = strideG, w0 = 256 - fr, w1 = fr - fg, w2 = fg - fb, w3 = fb;
                } else if (fr > fb) {
                    s1 = strideR, s2 = strideB, w0 = 256 - fr, w1 = fr - fb, w2 = fb - fg, w3 = fg;
                } else {
                    s1 = strideB, s2 = strideR, w0 = 256 - fb, w1 = fb - fr, w2 = fr - fg, w3 = fg;
                }
            } else {
                if (fb > fg) {
                    s1 = strideB, s2 = strideG, w0 = 256 - fb, w1 = fb - fg, w2 = fg - fr, w3 = fr;
                } else if (fb > fr) {
                    s1 = strideG, s2 = strideB, w0 = 256 - fg, w1 = fg - fb, w2 = fb - fr, w3 = fr;
                } else {
                    s1 = strideG, s2 = strideR, w0 = 256 - fg, w1 = fg - fr, w2 = fr - fb, w3 = fb;
                }
            }
            const int32_t* c1 = c0 + s1;
            const int32_t* c2 = c1 + s2;
            const int32_t* c3 = c0 + strideB + strideG + strideR;
            for (int c = 0; c < 3; ++c) {
                const int32_t looked =
                    (c0[c] * w0 + c1[c] * w1 + c2[c] * w2 + c3[c] * w3 + (1 << 15)) >> 16;
                p[c] = static_cast<uint8_t>(p[c] + (((looked - p[c]) * mix + 128) >> 8));
            }
        }
    }
}

}  // namespace facelume
