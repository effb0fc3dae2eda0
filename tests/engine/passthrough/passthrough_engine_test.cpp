// The pass-through engine, loaded into the test process as the service loads it.

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "mox_ai_effect.h"

// Whether it initialises with or without its folder is seen through the shipped service's
// start-up (tests/app).
TEST(PassthroughEngineTest,
     HandsBackTheInputPixelsInItsOwnReusedBufferAndRefusesFramesWithoutPixels) {
    std::vector<unsigned char> large(8 * 4 * 3), small(2 * 2 * 3);
    std::iota(large.begin(), large.end(), 1);
    std::iota(small.begin(), small.end(), 200);
    unsigned char* output = nullptr;
    ASSERT_NE(process(8, 4, large.data(), &output), 0);
    ASSERT_NE(output, nullptr);
    EXPECT_NE(output, large.data());
    EXPECT_EQ(std::memcmp(output, large.data(), large.size()), 0);
    // A smaller frame reuses the buffer.
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
