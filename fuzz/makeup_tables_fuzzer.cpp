// The make-up colour table and a sticker's placement file, as the engine reads them when a client
// picks a colour or a sticker. Both are YAML tables; the input is handed over as a file in memory
// that goes away with the process.

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "color_table.h"
#include "sticker.h"

namespace {

const std::string& inputPath() {
    static const std::string path = [] {
        const int fd = memfd_create("facelume_fuzz_table", 0);
        if (fd < 0) std::abort();
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

void writeInput(const std::uint8_t* data, std::size_t size) {
    const int fd = std::stoi(inputPath().substr(14));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    writeInput(data, size);
    facelume::ColorTable colors;
    if (!colors.load(inputPath()).ok() && colors.listing() != "none") std::abort();
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)colors.find(text);

    // The picture is missing on purpose: the placement is read and checked before it, and a
    // placement that passed holds only values in range.
    facelume::Sticker sticker;
    const facelume::LoadResult result = sticker.load("/nonexistent/sticker.png", inputPath());
    if (result.ok() || !sticker.empty()) std::abort();
    if (result.error.rfind("/nonexistent/sticker.png: not a readable picture", 0) != 0) return 0;
    for (const int landmark : sticker.anchor()) {
        if (landmark < 0 || landmark > 67) std::abort();
    }
    if (sticker.anchor().empty() || !(sticker.width() > 0.f && sticker.width() <= 20.f) ||
        !(sticker.opacity() >= 0.f && sticker.opacity() <= 1.f) ||
        !std::isfinite(sticker.pivot().x + sticker.pivot().y + sticker.offset().x +
                       sticker.offset().y))
        std::abort();
    return 0;
}
