#include "lut_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/core/utility.hpp>

#include "cube_lut.h"
#include "resource_directory.h"

namespace facelume {

namespace {

constexpr int kFractionOne = 256;
constexpr int kValueOne = 32;
constexpr int kFieldBits = 21;

// Orders two fractions without a branch: the order of a pixel's fractions is unpredictable, and
// mispredicted jumps cost more than the interpolation itself.
inline void order(int& low, int& high) {
    const int difference = high - low;
    const int swap = difference >> 31;  // all ones when high < low
    low += difference & swap;
    high -= difference & swap;
}

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
    if (wanted == m_name) {
        if (m_mix > 0 && m_mix != m_packedMix) packLattice();
        return;
    }

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
    packLattice();
    m_name = wanted;
}

bool LutFilter::active() const { return !m_name.empty() && m_mix > 0; }

void LutFilter::turnOff() {
    m_name.clear();
    m_mix = 0;
}

void LutFilter::prepare(const CubeLut& lut) {
    const int n = lut.size();
    m_colors.clear();
    m_plain.clear();
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const cv::Vec3f& rgb = lut.at(r, g, b);
                const int index[3] = {b, g, r};
                cv::Vec3f color, plain;
                for (int c = 0; c < 3; ++c) {
                    color[c] = std::clamp(rgb[2 - c], 0.f, 1.f);
                    // The colour that leaves this lattice point's input unchanged.
                    const float low = lut.domainMin()[2 - c], high = lut.domainMax()[2 - c];
                    plain[c] = std::clamp(low + (high - low) * index[c] / (n - 1.f), 0.f, 1.f);
                }
                m_colors.push_back(color);
                m_plain.push_back(plain);
            }
        }
    }
    // Lattice steps of the frame's blue, green and red channels.
    const int32_t stride[3] = {n * n, n, 1};
    for (int c = 0; c < 3; ++c) {
        const float low = lut.domainMin()[2 - c];
        const float high = lut.domainMax()[2 - c];
        for (int v = 0; v < 256; ++v) {
            const float t = std::clamp((v / 255.f - low) / (high - low), 0.f, 1.f);
            const float position = t * static_cast<float>(n - 1);
            const int index = std::min(static_cast<int>(position), n - 2);
            m_cells[c][v] = {index * stride[c],
                             static_cast<int32_t>(std::lround((position - index) * kFractionOne))};
        }
    }
    // Indexed by (fr > fg) * 4 + (fg > fb) * 2 + (fr > fb): the largest fraction's channel
    // first, then the middle one. Two of the eight cases cannot occur.
    const int32_t sB = stride[0], sG = stride[1], sR = stride[2];
    m_steps = {{{sB, sG}, {sB, sG}, {sG, sB}, {sG, sR}, {sB, sR}, {sR, sB}, {sR, sG}, {sR, sG}}};
    m_diagonal = sB + sG + sR;
}

void LutFilter::packLattice() {
    // Interpolation is linear in the lattice colours, so mixing them with the unchanged colours
    // by the strength mixes every interpolated pixel the same way, at no cost per pixel.
    const float mix = m_mix / static_cast<float>(kFractionOne);
    m_lattice.resize(m_colors.size());
    for (size_t i = 0; i < m_colors.size(); ++i) {
        uint64_t packed = 0;
        for (int c = 0; c < 3; ++c) {
            const float value = m_plain[i][c] + mix * (m_colors[i][c] - m_plain[i][c]);
            packed |= static_cast<uint64_t>(std::lround(value * 255.f * kValueOne))
                      << (kFieldBits * c);
        }
        m_lattice[i] = packed;
    }
    m_packedMix = m_mix;
}

void LutFilter::apply(cv::Mat& frame, const std::vector<Face>&) {
    if (!active() || frame.type() != CV_8UC3) return;
    // Rows are independent: large frames are shared out over OpenCV's worker threads, small
    // ones are not worth a hand-over.
    constexpr int kRowsPerStripe = 64;
    const int stripes = frame.total() >= 256 * 1024 ? frame.rows / kRowsPerStripe : 1;
    if (stripes <= 1) return applyRows(frame, 0, frame.rows);
    cv::parallel_for_(
        cv::Range(0, frame.rows),
        [&](const cv::Range& rows) { applyRows(frame, rows.start, rows.end); }, stripes);
}

void LutFilter::applyRows(cv::Mat& frame, int first, int end) const {
    // Locals: the frame's bytes may alias anything, so members would be re-read per pixel.
    const uint64_t* const lattice = m_lattice.data();
    const Cell* const blue = m_cells[0].data();
    const Cell* const green = m_cells[1].data();
    const Cell* const red = m_cells[2].data();
    const std::array<int32_t, 2>* const steps = m_steps.data();
    const int32_t diagonal = m_diagonal;
    constexpr int kShift = 13;  // 1/32 steps times weights of 256
    // Half a step added to each field at once; a field's sum stays below 2^21 with it.
    constexpr uint64_t kHalf = uint64_t{1} << (kShift - 1);
    constexpr uint64_t kRounding = kHalf | kHalf << kFieldBits | kHalf << (2 * kFieldBits);
    for (int y = first; y < end; ++y) {
        uint8_t* p = frame.ptr<uint8_t>(y);
        for (int x = 0; x < frame.cols; ++x, p += 3) {
            const Cell cb = blue[p[0]], cg = green[p[1]], cr = red[p[2]];
            const uint64_t* c0 = lattice + cb.offset + cg.offset + cr.offset;
            const int fb = cb.fraction, fg = cg.fraction, fr = cr.fraction;
            // Tetrahedral interpolation: from the lower corner step along the channels in
            // decreasing order of their fractions; the weights are the fraction differences.
            const int which = (fr > fg) * 4 + (fg > fb) * 2 + (fr > fb);
            int low = fr, middle = fg, high = fb;
            order(low, middle);
            order(middle, high);
            order(low, middle);
            const uint64_t* c1 = c0 + steps[which][0];
            const uint64_t* c2 = c1 + steps[which][1];
            const uint64_t sum = *c0 * static_cast<uint64_t>(kFractionOne - high) +
                                 *c1 * static_cast<uint64_t>(high - middle) +
                                 *c2 * static_cast<uint64_t>(middle - low) +
                                 c0[diagonal] * static_cast<uint64_t>(low) + kRounding;
            p[0] = static_cast<uint8_t>(sum >> kShift);
            p[1] = static_cast<uint8_t>(sum >> (kFieldBits + kShift));
            p[2] = static_cast<uint8_t>(sum >> (2 * kFieldBits + kShift));
        }
    }
}

}  // namespace facelume
