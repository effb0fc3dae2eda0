#include "platform_safe_key.h"

#include <gtest/gtest.h>

#include "sha1.h"

namespace {

TEST(PlatformSafeKeyTest, WorkedExamples) {
    EXPECT_EQ(makePlatformSafeKey("abc", kSharedMemoryKeyPrefix),
              "sm_sharedmemory_abca9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(makePlatformSafeKey("abc", kSharedMemoryKeyPrefix).size(), 59u);
    EXPECT_EQ(makePlatformSafeKey("n1_sharedMemory", kSharedMemoryKeyPrefix),
              "sm_sharedmemory_nsharedMemory8d32297215d2152763dc0fa1e794b403f4e448c7");
    EXPECT_EQ(makePlatformSafeKey("a1 b", kSharedMemoryKeyPrefix),
              "sm_sharedmemory_ab55f04177caa6054c9417b8e6ad97bfa4480c4250");
    EXPECT_EQ(makePlatformSafeKey("n1_sharedMemory", kSystemSemaphoreKeyPrefix),
              "ipc_systemsem_nsharedMemory8d32297215d2152763dc0fa1e794b403f4e448c7");
}

TEST(PlatformSafeKeyTest, LettersPieceAndDigest) {
    EXPECT_EQ(makePlatformSafeKey("", kSharedMemoryKeyPrefix), "");
    EXPECT_EQ(makePlatformSafeKey("2024", kSystemSemaphoreKeyPrefix),
              "ipc_systemsem_" + sha1Hex("2024"));
    EXPECT_EQ(makePlatformSafeKey("A/b_C d-9", "p_"), "p_AbCd" + sha1Hex("A/b_C d-9"));
    // Keys that differ only in dropped characters still differ by their digest.
    const std::string one = makePlatformSafeKey("n1_sharedMemory", kSharedMemoryKeyPrefix);
    const std::string two = makePlatformSafeKey("n2_sharedMemory", kSharedMemoryKeyPrefix);
    EXPECT_EQ(one.substr(0, 29), two.substr(0, 29));
    EXPECT_NE(one, two);
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
