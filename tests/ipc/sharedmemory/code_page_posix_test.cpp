// On Linux the ANSI code page is UTF-8: what keys with bytes above 0x7F turn into.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "native_ipc.h"
#include "platform_safe_key.h"
#include "sha1.h"

namespace {

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
    for (const auto& [bytes, units] : cases) {
        EXPECT_EQ(ansiToWide(bytes), units) << bytes;
    }
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

}  // namespace
