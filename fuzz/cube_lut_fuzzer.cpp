// A .cube file in the filters folder, as the colour filter reads it when a client picks it.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "cube_lut.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    facelume::CubeLut lut;
    if (!lut.parse(in, "fuzz.cube").ok()) {
        if (!lut.empty()) std::abort();
        return 0;
    }
    const int last = lut.size() - 1;
    if (lut.size() < 2 || lut.empty()) std::abort();
    volatile float corner = lut.at(last, last, last)[2];
    (void)corner;
    return 0;
}
