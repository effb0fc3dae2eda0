#include "client_test_support.h"

#include <atomic>
#include <filesystem>

#include "test_names.h"

namespace fs = std::filesystem;

namespace clienttest {

facelume::ServiceOptions serviceOptions(int size) {
    static std::atomic<int> counter{0};
    const std::string base = testnames::letterName("sdk" + std::to_string(counter++) + "t");
    facelume::ServiceOptions options;
    options.executable = FACELUME_RECORDING_SERVICE;
    options.channel.receiveName = base + "in";
    options.channel.sendName = base + "out";
    options.channel.size = size;
    return options;
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

bool roundTrip(facelume::Client& client, int width, int height, std::size_t stride, int first) {
    const auto pixels = makePixels(width, height, stride, first);
    facelume::Frame out;
    return client.process(width, height, pixels.data(), stride, out, 5000) &&
           out.pixels.size() == std::size_t(width) * height * 3 &&
           isInverted(pixels, out.pixels.data(), width, height, stride);
}

std::string installService(const ScratchFolder& folder, bool withEngine, bool withResources) {
    const auto copy = [&folder](const fs::path& file) {
        const std::string copied = folder.file(file.filename().string());
        fs::copy_file(file, copied);
        return copied;
    };
    if (withEngine) copy(FACELUME_RECORDING_ENGINE);
    if (withResources) fs::create_directory(folder.file("beauty_res"));
    return copy(FACELUME_RECORDING_SERVICE);
}

}  // namespace clienttest
