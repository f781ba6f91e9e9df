#include <Ovra/Bases/StringConv.h>

#include <gtest/gtest.h>

namespace Ovra {
namespace {

// U+1F600 as wide text on this platform: a surrogate pair on Windows, one unit elsewhere.
std::wstring Grin() {
#if defined(_WIN32)
    return std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
#else
    return std::wstring(1, static_cast<wchar_t>(0x1F600));
#endif
}

const std::wstring kReplacement(1, static_cast<wchar_t>(0xFFFD));

TEST(StringConv, RoundTripsEveryPlane) {
    const std::wstring text = L"A\x00E9\x20AC" + Grin() + L"z";
    const std::string utf8 = tcs_to_utf8(text);
    EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(utf8_to_tcs(utf8), text);
    EXPECT_EQ(utf8_to_tcs("\xF4\x8F\xBF\xBF").size(), sizeof(wchar_t) == 2 ? 2u : 1u);  // U+10FFFF
}

TEST(StringConv, InvalidUtf8BecomesReplacementWithoutSwallowingGoodText) {
    EXPECT_EQ(utf8_to_tcs("a\x80" "b"), L"a" + kReplacement + L"b");        // stray continuation
    EXPECT_EQ(utf8_to_tcs("a\xE2\x82"), L"a" + kReplacement);              // truncated at the end
    EXPECT_EQ(utf8_to_tcs("\xE2\x82" "b"), kReplacement + L"b");           // truncated in the middle
    EXPECT_EQ(utf8_to_tcs("\xC0\xAF"), kReplacement + kReplacement);       // overlong lead refused
    EXPECT_EQ(utf8_to_tcs("\xE0\x80\xAF"), kReplacement);                  // overlong form
    EXPECT_EQ(utf8_to_tcs("\xED\xA0\x80"), kReplacement);                  // encoded surrogate
    EXPECT_EQ(utf8_to_tcs("\xF4\x90\x80\x80"), kReplacement);              // beyond U+10FFFF
    EXPECT_EQ(utf8_to_tcs(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(StringConv, LoneSurrogatesBecomeReplacement) {
    const std::wstring lone{L'x', static_cast<wchar_t>(0xD800), L'y', static_cast<wchar_t>(0xDC00)};
    EXPECT_EQ(tcs_to_utf8(lone), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
#if !defined(_WIN32)
    EXPECT_EQ(tcs_to_utf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
#endif
}

TEST(StringConv, MultibyteKeepsAscii) {
    EXPECT_EQ(tcs_to_mbs(L"COUNT(Time)"), "COUNT(Time)");
    EXPECT_EQ(mbs_to_tcs("WDC WD40EFRX-68N32N0  "), L"WDC WD40EFRX-68N32N0  ");
    EXPECT_EQ(mbs_to_tcs(""), L"");
}

}  // namespace
}  // namespace Ovra
