#include "sha1.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(Sha1Test, KnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        // 55 bytes still fit the length into the first block, 56 need a second one.
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
        {std::string("a\xef\xbf\xbd"), "ff570a76da46e07de99c8cccab5d872ac960f33d"},
        {std::string("a\0b", 3), "4a3dec2d1f8245280855c42db0ee4239f917fdb8"},
    };
    for (const auto& [input, digest] : cases) {
        EXPECT_EQ(sha1Hex(input), digest) << "input of " << input.size() << " bytes";
    }
}

}  // namespace
