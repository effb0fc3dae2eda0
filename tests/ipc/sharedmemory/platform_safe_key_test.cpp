#include "platform_safe_key.h"

#include <gtest/gtest.h>

#include "sha1.h"

namespace {

TEST(PlatformSafeKeyTest, PrefixLettersAndDigest) {
    const char* const cases[][3] = {
        {"abc", kSharedMemoryKeyPrefix,
         "sm_sharedmemory_abca9993e364706816aba3e25717850c26c9cd0d89d"},
        {"n1_sharedMemory", kSharedMemoryKeyPrefix,
         "sm_sharedmemory_nsharedMemory8d32297215d2152763dc0fa1e794b403f4e448c7"},
        // Keys that differ only in dropped characters still differ by their digest.
        {"n2_sharedMemory", kSharedMemoryKeyPrefix,
         "sm_sharedmemory_nsharedMemory541e926008c126835e08ea09a42a88511cdf18a7"},
        {"a1 b", kSharedMemoryKeyPrefix,
         "sm_sharedmemory_ab55f04177caa6054c9417b8e6ad97bfa4480c4250"},
        {"n1_sharedMemory", kSystemSemaphoreKeyPrefix,
         "ipc_systemsem_nsharedMemory8d32297215d2152763dc0fa1e794b403f4e448c7"},
        {"", kSharedMemoryKeyPrefix, ""},
    };
    for (const auto& [key, prefix, native] : cases) {
        EXPECT_EQ(makePlatformSafeKey(key, prefix), native);
    }
    EXPECT_EQ(makePlatformSafeKey("A/b_C d-9", "p_"), "p_AbCd" + sha1Hex("A/b_C d-9"));
}

TEST(PlatformSafeKeyTest, CodePageConversions) {
    EXPECT_EQ(ansiToWide("key_1"), u"key_1");
    EXPECT_EQ(ansiToWide(""), u"");
    EXPECT_EQ(wideToAnsi(u"key_1"), "key_1");
    EXPECT_EQ(wideToAnsi(u""), "");
    // The digest input of a key is what the code page gives back after a round trip.
    const std::string key = "cl\xe9_\xff";
    EXPECT_EQ(makePlatformSafeKey(key, "x_"),
              "x_cl" + sha1Hex(wideToAnsi(ansiToWide(key).c_str())));
}

}  // namespace
