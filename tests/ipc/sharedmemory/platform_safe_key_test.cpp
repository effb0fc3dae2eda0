// The pieces of a platform-safe key: the SHA-1 digest and, on Linux, where the ANSI code page is
// UTF-8, what keys with bytes above 0x7F turn into.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "native_ipc.h"
#include "platform_safe_key.h"
#include "sha1.h"

namespace {

TEST(Sha1Test, KnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
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

#ifndef _WIN32
TEST(CodePageTest, Utf8ToUtf16AndKeys) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"caf\xc3\xa9", u"caf\u00e9"},
        {"\xf0\x9f\x98\x80", u"\U0001F600"},
        {"\xef\xbb\xbfkey", u"key"},  // a leading byte-order mark is dropped
        // One U+FFFD per maximal invalid subpart: a lone byte, a truncated sequence, a surrogate.
        {"a\xff", u"a\uFFFD"},
        {"\xe2\x82z", u"\uFFFDz"},
        {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"\xc0\xaf", u"\uFFFD\uFFFD"},
        {"\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& [bytes, units] : cases) EXPECT_EQ(ansiToWide(bytes), units) << bytes;
    EXPECT_EQ(wideToAnsi(u"caf\u00e9\U0001F600"), "caf\xc3\xa9\xf0\x9f\x98\x80");
    const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(wideToAnsi(loneSurrogate),
              "a\xef\xbf\xbd"
              "b");
    // The letters piece drops every byte of a multi-byte character; the digest keeps the key.
    EXPECT_EQ(makePlatformSafeKey("caf\xc3\xa9", kSharedMemoryKeyPrefix),
              "sm_sharedmemory_caff424452a9673918c6f09b0cdd35b20be8e6ae7d7");
    EXPECT_EQ(makePlatformSafeKey("a\xff", "x_"), "x_aff570a76da46e07de99c8cccab5d872ac960f33d");
    EXPECT_EQ(makePlatformSafeKey("a\xff", "x_"), makePlatformSafeKey("a\xfe", "x_"))
        << "both bytes become U+FFFD before the digest";
}
#endif

}  // namespace
