#include "lut_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define FACELUME_LUT_AVX2 1
#endif

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

bool haveAvx2() {
#ifdef FACELUME_LUT_AVX2
    static const bool have = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
    return have;
#else
    return false;
#endif
}

int toMix(float strength) {
    if (!(strength > 0.f)) return 0;  // NaN too
    return static_cast<int>(std::lround(strength * kFractionOne));
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
            const auto fraction =
                static_cast<int32_t>(std::lround((position - index) * kFractionOne));
            m_cells[c][v] = {index * stride[c], fraction};
            m_indexFractions[c][v] = index | fraction << 16;
        }
    }
    m_size = n;
    // Indexed by (fr > fg) * 4 + (fg > fb) * 2 + (fr > fb): the largest fraction's channel
    // first, then the middle one. Two of the eight cases cannot occur.
    const int32_t sB = stride[0], sG = stride[1], sR = stride[2];
    m_steps = {{{sB, sG}, {sB, sG}, {sG, sB}, {sG, sR}, {sB, sR}, {sR, sB}, {sR, sG}, {sR, sG}}};
    m_diagonal = sB + sG + sR;
    for (size_t i = 0; i < m_steps.size(); ++i) {
        m_firstSteps[i] = m_steps[i][0];
        m_secondSteps[i] = m_steps[i][1];
    }
}

void LutFilter::packLattice() {
    // Interpolation is linear in the lattice colours, so mixing them with the unchanged colours
    // by the strength mixes every interpolated pixel the same way, at no cost per pixel.
    const float mix = m_mix / static_cast<float>(kFractionOne);
    m_lattice.resize(m_colors.size());
    m_blueGreen.resize(m_colors.size());
    m_red.resize(m_colors.size());
    for (size_t i = 0; i < m_colors.size(); ++i) {
        uint32_t value[3];
        for (int c = 0; c < 3; ++c) {
            const float mixed = m_plain[i][c] + mix * (m_colors[i][c] - m_plain[i][c]);
            value[c] = static_cast<uint32_t>(std::lround(mixed * 255.f * kValueOne));
        }
        m_lattice[i] = uint64_t{value[0]} | uint64_t{value[1]} << kFieldBits |
                       uint64_t{value[2]} << (2 * kFieldBits);
        m_blueGreen[i] = value[0] | value[1] << 16;
        m_red[i] = value[2];
    }
    m_packedMix = m_mix;
}

void LutFilter::apply(cv::Mat& frame, const std::vector<Face>&) {
    if (!active() || frame.type() != CV_8UC3) return;
    // Rows are independent: from about 640x400 on, the handing over pays for itself.
    if (frame.total() < 256 * 1024) return applyRows(frame, 0, frame.rows);
    if (!m_splitter) m_splitter = std::make_unique<RowSplitter>();
    m_splitter->run(frame.rows, [&](int first, int end) { applyRows(frame, first, end); });
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
    const bool eightAtATime = haveAvx2();
    for (int y = first; y < end; ++y) {
        uint8_t* p = frame.ptr<uint8_t>(y);
        const int done = eightAtATime ? applyEightAtATime(p, frame.cols) : 0;
        p += 3 * done;
        for (int x = done; x < frame.cols; ++x, p += 3) {
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

#ifdef FACELUME_LUT_AVX2
// The arithmetic of applyRows() in eight 32-bit lanes: per channel, the sum of the four corner
// values (1/32 steps) times their weights (totalling 256), rounded and shifted by 13.
__attribute__((target("avx2"))) int LutFilter::applyEightAtATime(uint8_t* pixels, int count) const {
    const int* const blue = m_indexFractions[0].data();
    const int* const green = m_indexFractions[1].data();
    const int* const red = m_indexFractions[2].data();
    const int* const blueGreen = reinterpret_cast<const int*>(m_blueGreen.data());
    const int* const redValues = reinterpret_cast<const int*>(m_red.data());
    const __m256i firstSteps =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_firstSteps.data()));
    const __m256i secondSteps =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m_secondSteps.data()));
    const __m256i blueStride = _mm256_set1_epi32(m_size * m_size);
    const __m256i greenStride = _mm256_set1_epi32(m_size);
    const __m256i diagonal = _mm256_set1_epi32(m_diagonal);
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i low8 = _mm256_set1_epi32(0xFF);
    const __m256i one = _mm256_set1_epi32(kFractionOne);
    const __m256i rounding = _mm256_set1_epi32(1 << 12);
    // Pixels 0-3 from bytes 0..11 of the first load, 4-7 from bytes 4..15 of the second (which
    // starts 8 bytes in), each widened to one lane; and back to twelve packed bytes per half.
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 4,
                                            5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                          1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    // Loads and stores stay within each group's 24 bytes: the frame is rewritten in place.
    for (uint8_t* p = pixels; x + 8 <= count; x += 8, p += 24) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
        const __m256i bgr = _mm256_shuffle_epi8(
            _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1), spread);
        const __m256i cb = _mm256_i32gather_epi32(blue, _mm256_and_si256(bgr, low8), 4);
        const __m256i cg =
            _mm256_i32gather_epi32(green, _mm256_and_si256(_mm256_srli_epi32(bgr, 8), low8), 4);
        const __m256i cr = _mm256_i32gather_epi32(red, _mm256_srli_epi32(bgr, 16), 4);
        const __m256i fb = _mm256_srli_epi32(cb, 16);
        const __m256i fg = _mm256_srli_epi32(cg, 16);
        const __m256i fr = _mm256_srli_epi32(cr, 16);
        const __m256i c0 = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(_mm256_and_si256(cb, low16), blueStride),
                             _mm256_mullo_epi32(_mm256_and_si256(cg, low16), greenStride)),
            _mm256_and_si256(cr, low16));
        const __m256i which = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(_mm256_cmpgt_epi32(fr, fg), _mm256_set1_epi32(4)),
                            _mm256_and_si256(_mm256_cmpgt_epi32(fg, fb), _mm256_set1_epi32(2))),
            _mm256_and_si256(_mm256_cmpgt_epi32(fr, fb), _mm256_set1_epi32(1)));
        const __m256i high = _mm256_max_epi32(_mm256_max_epi32(fb, fg), fr);
        const __m256i low = _mm256_min_epi32(_mm256_min_epi32(fb, fg), fr);
        const __m256i middle = _mm256_sub_epi32(
            _mm256_sub_epi32(_mm256_add_epi32(_mm256_add_epi32(fb, fg), fr), high), low);
        const __m256i c1 = _mm256_add_epi32(c0, _mm256_permutevar8x32_epi32(firstSteps, which));
        const __m256i c2 = _mm256_add_epi32(c1, _mm256_permutevar8x32_epi32(secondSteps, which));
        const __m256i corners[4] = {c0, c1, c2, _mm256_add_epi32(c0, diagonal)};
        const __m256i weights[4] = {_mm256_sub_epi32(one, high), _mm256_sub_epi32(high, middle),
                                    _mm256_sub_epi32(middle, low), low};
        __m256i sumB = rounding, sumG = rounding, sumR = rounding;
        for (int k = 0; k < 4; ++k) {
            // Weights up to 256 against values up to 8160: the 16-bit products fit 32 bits.
            const __m256i bg = _mm256_i32gather_epi32(blueGreen, corners[k], 4);
            const __m256i r = _mm256_i32gather_epi32(redValues, corners[k], 4);
            sumB = _mm256_add_epi32(sumB, _mm256_madd_epi16(bg, weights[k]));
            sumG = _mm256_add_epi32(sumG, _mm256_madd_epi16(bg, _mm256_slli_epi32(weights[k], 16)));
            sumR = _mm256_add_epi32(sumR, _mm256_madd_epi16(r, weights[k]));
        }
        const __m256i out = _mm256_shuffle_epi8(
            _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(sumB, 13),
                                            _mm256_slli_epi32(_mm256_srli_epi32(sumG, 13), 8)),
                            _mm256_slli_epi32(_mm256_srli_epi32(sumR, 13), 16)),
            pack);
        const __m128i lower = _mm256_castsi256_si128(out);
        const __m128i upper = _mm256_extracti128_si256(out, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), lower);
        const int lowerTail = _mm_extract_epi32(lower, 2);
        std::memcpy(p + 8, &lowerTail, 4);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 12), upper);
        const int upperTail = _mm_extract_epi32(upper, 2);
        std::memcpy(p + 20, &upperTail, 4);
    }
    return x;
}
#else
int LutFilter::applyEightAtATime(uint8_t*, int) const { return 0; }
#endif

}  // namespace facelume
