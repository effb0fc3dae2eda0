// The pass-through engine, loaded into the test process as the service loads it.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mox_ai_effect.h"

namespace {

std::vector<unsigned char> pixels(int width, int height, unsigned char first) {
    std::vector<unsigned char> bytes(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(first + i);
    return bytes;
}

}  // namespace

// Whether it initialises with or without its folder is seen through the shipped service's
// start-up (tests/app).
TEST(PassthroughEngineTest,
     HandsBackTheInputPixelsInItsOwnReusedBufferAndRefusesFramesWithoutPixels) {
    std::vector<unsigned char> large = pixels(8, 4, 1);
    unsigned char* output = nullptr;
    ASSERT_NE(process(8, 4, large.data(), &output), 0);
    ASSERT_NE(output, nullptr);
    EXPECT_NE(output, large.data());
    EXPECT_EQ(std::memcmp(output, large.data(), large.size()), 0);
    // A smaller frame reuses the buffer.
    std::vector<unsigned char> small = pixels(2, 2, 200);
    unsigned char* second = nullptr;
    ASSERT_NE(process(2, 2, small.data(), &second), 0);
    EXPECT_EQ(second, output);
    EXPECT_EQ(std::memcmp(second, small.data(), small.size()), 0);

    // Frames without pixels and a missing folder are refused.
    unsigned char* refused = nullptr;
    EXPECT_EQ(process(0, 1, small.data(), &refused), 0);
    EXPECT_EQ(process(1, -1, small.data(), &refused), 0);
    EXPECT_EQ(process(1, 1, nullptr, &refused), 0);
    EXPECT_EQ(process(1, 1, small.data(), nullptr), 0);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(initialize(nullptr), 0);
}
