// On Linux the ANSI code page is UTF-8: what keys with bytes above 0x7F turn into.

#include <gtest/gtest.h>

#include "native_ipc.h"
#include "platform_safe_key.h"
#include "sha1.h"

namespace {

TEST(CodePageTest, ValidUtf8RoundTrips) {
    EXPECT_EQ(ansiToWide("caf\xc3\xa9"), u"caf\u00e9");
    EXPECT_EQ(ansiToWide("\xf0\x9f\x98\x80"), u"\U0001F600");
    EXPECT_EQ(wideToAnsi(u"caf\u00e9\U0001F600"), "caf\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(ansiToWide("\xef\xbb\xbfkey"), u"key") << "a leading byte-order mark is dropped";
    // The letters piece drops every byte of a multi-byte character; the digest keeps the key.
    EXPECT_EQ(makePlatformSafeKey("caf\xc3\xa9", "x_"), "x_caf" + sha1Hex("caf\xc3\xa9"));
}

TEST(CodePageTest, InvalidBytesBecomeReplacementCharacters) {
    // One U+FFFD per maximal invalid subpart: a lone byte, a truncated sequence, a surrogate.
    EXPECT_EQ(ansiToWide("a\xff"), u"a\uFFFD");
    EXPECT_EQ(ansiToWide("\xe2\x82z"), u"\uFFFDz");
    EXPECT_EQ(ansiToWide("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(ansiToWide("\xc0\xaf"), u"\uFFFD\uFFFD");
    EXPECT_EQ(ansiToWide("\xf4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(wideToAnsi(loneSurrogate),
              "a\xef\xbf\xbd"
              "b");

    EXPECT_EQ(makePlatformSafeKey("a\xff", "x_"),
              "x_a"
              "ff570a76da46e07de99c8cccab5d872ac960f33d");
    EXPECT_EQ(makePlatformSafeKey("a\xff", "x_"), makePlatformSafeKey("a\xfe", "x_"))
        << "both bytes become U+FFFD before the digest";
}

TEST(CodePageTest, SizesAndErrorsFollowTheWindowsContract) {
    EXPECT_EQ(nativeipc::multiByteToWideChar("ab", -1, nullptr, 0), 3) << "the NUL is counted";
    EXPECT_EQ(nativeipc::multiByteToWideChar("ab", 2, nullptr, 0), 2);
    char16_t small[1];
    EXPECT_EQ(nativeipc::multiByteToWideChar("ab", 2, small, 1), 0);
    EXPECT_EQ(nativeipc::lastError(), nativeipc::kErrorInsufficientBuffer);
    EXPECT_EQ(nativeipc::multiByteToWideChar("ab", 0, nullptr, 0), 0);
    EXPECT_EQ(nativeipc::lastError(), nativeipc::kErrorInvalidParameter);
    EXPECT_EQ(nativeipc::wideCharToMultiByte(u"\u00e9", -1, nullptr, 0), 3);
}

}  // namespace
