#include "client_test_support.h"

#include <atomic>
#include <filesystem>

#include "test_names.h"

namespace fs = std::filesystem;

namespace clienttest {

Names uniqueNames() {
    static std::atomic<int> counter{0};
    const std::string base = testnames::letterName("sdk" + std::to_string(counter++) + "t");
    return {base + "in", base + "out"};
}

std::vector<std::uint8_t> makePixels(int width, int height, std::size_t stride, int first) {
    std::vector<std::uint8_t> pixels(stride * height, 0xEE);
    int value = first;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) pixels[y * stride + x] = (value++) & 0xFF;
    }
    return pixels;
}

bool isInverted(const std::vector<std::uint8_t>& in, const std::uint8_t* out, int width, int height,
                std::size_t stride) {
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) {
            if (out[y * width * 3 + x] != 255 - in[y * stride + x]) return false;
        }
    }
    return true;
}

std::string serviceFolder(bool withEngine, bool withResources) {
    const fs::path folder = fs::temp_directory_path() / ("facelume-sdk-" + uniqueNames().receive);
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(FACELUME_RECORDING_SERVICE,
                  folder / fs::path(FACELUME_RECORDING_SERVICE).filename());
    if (withEngine) {
        fs::copy_file(FACELUME_RECORDING_ENGINE,
                      folder / fs::path(FACELUME_RECORDING_ENGINE).filename());
    }
    if (withResources) fs::create_directory(folder / "beauty_res");
    return folder.string();
}

}  // namespace clienttest
