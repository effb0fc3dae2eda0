#pragma once

// The colour look control: a 3D LUT from "<resources>/filters/<name>.cube", applied to the
// whole frame with tetrahedral interpolation and mixed with the original by a strength 0..1.
// configure() reads and prepares the file (null or empty name: off; unknown or malformed file:
// off, with one line on standard error); the strength is mixed into the lattice there too.
// apply() then only reads precomputed tables, works in integer arithmetic (the three channels
// of a lattice colour packed in one 64-bit word) without data-dependent branches. On processors
// with AVX2 it takes
// eight pixels at a time with the same integer arithmetic, so the output does not depend on the
// processor. Large frames are shared with a helper thread, half the rows each. One caller at a
// time; never throws.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "effect.h"
#include "row_splitter.h"

namespace facelume {

class CubeLut;

class LutFilter final : public Effect {
public:
    explicit LutFilter(std::string resourceFolder);

    void configure(const char* name, float strength);
    bool active() const override;
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

private:
    void applyRows(cv::Mat& frame, int first, int end) const;
    // Processes the leading whole groups of eight of count pixels; returns how many it did.
    int applyEightAtATime(uint8_t* pixels, int count) const;
    void prepare(const CubeLut& lut);
    void packLattice();
    void turnOff();

    std::string m_folder;
    std::string m_name;  // of the prepared table; empty when none is
    int m_mix = 0;       // strength in 1/256
    // Lattice colours of the table and the colours that would leave each lattice point's
    // input unchanged, (b, g, r), 0..1.
    std::vector<cv::Vec3f> m_colors;
    std::vector<cv::Vec3f> m_plain;
    // The two mixed by the strength m_packedMix; blue, green and red in 21-bit fields of one
    // word, each 0..255 in 1/32 steps, so that a weighted sum with weights totalling 256 fits
    // every field.
    std::vector<uint64_t> m_lattice;
    // The same colours for eight-at-a-time lookups: blue and green in the 16-bit halves of one
    // word, red alone in another.
    std::vector<uint32_t> m_blueGreen;
    std::vector<uint32_t> m_red;
    int m_packedMix = 0;
    // Per frame channel (b, g, r) and 8-bit value: offset of the lower lattice neighbour
    // in m_lattice and the fraction toward the upper one, 0..256.
    struct Cell {
        int32_t offset;
        int32_t fraction;
    };
    std::array<std::array<Cell, 256>, 3> m_cells{};
    // The same per channel and value as the lattice index (low 16 bits) and the fraction above.
    std::array<std::array<int32_t, 256>, 3> m_indexFractions{};
    int32_t m_size = 0;
    // The two lattice steps of the tetrahedron for each order of the three fractions.
    std::array<std::array<int32_t, 2>, 8> m_steps{};
    // The first and the second of those steps in separate tables.
    std::array<int32_t, 8> m_firstSteps{};
    std::array<int32_t, 8> m_secondSteps{};
    int32_t m_diagonal = 0;
    // Made on the first large frame, so that an engine without a look runs no extra thread.
    std::unique_ptr<RowSplitter> m_splitter;
};

}  // namespace facelume
