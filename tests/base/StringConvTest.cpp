#include <Ovra/Bases/StringConv.h>

#include <gtest/gtest.h>

namespace Ovra {
namespace {

TEST(StringConv, RoundTripsEveryPlane) {
    // U+1F600 is a surrogate pair in wide text on Windows, one unit elsewhere.
    const std::wstring text = L"A\x0080\x00E9\x20AC\U0001F600z";
    const std::string utf8 = tcs_to_utf8(text);
    EXPECT_EQ(utf8, "A\xC2\x80\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(utf8_to_tcs(utf8), text);
    EXPECT_EQ(utf8_to_tcs("\xF4\x8F\xBF\xBF").size(), sizeof(wchar_t) == 2 ? 2u : 1u);  // U+10FFFF
    EXPECT_EQ(tcs_to_mbs(L"COUNT(Time)"), "COUNT(Time)");
    EXPECT_EQ(mbs_to_tcs("WDC WD40EFRX-68N32N0  "), L"WDC WD40EFRX-68N32N0  ");
}

TEST(StringConv, InvalidInputBecomesReplacementWithoutSwallowingGoodText) {
    const std::wstring r(1, static_cast<wchar_t>(0xFFFD));
    const std::pair<std::string, std::wstring> cases[] = {
        {"a\x80\x62", L"a" + r + L"b"},  // stray continuation
        {"a\xE2\x82", L"a" + r},         // truncated at the end
        {"\xE2\x82\x62", r + L"b"},      // truncated in the middle
        {"\xC0\xAF", r + r},             // overlong lead refused
        {"\xE0\x80\xAF", r},             // overlong form
        {"\xED\xA0\x80", r},             // encoded surrogate
        {"\xF4\x90\x80\x80", r},         // beyond U+10FFFF
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto& [utf8, wide] : cases) EXPECT_EQ(utf8_to_tcs(utf8), wide) << utf8;
    const std::wstring lone{L'x', wchar_t(0xD800), L'y', wchar_t(0xDC00)};
    EXPECT_EQ(tcs_to_utf8(lone), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
#if !defined(_WIN32)
    EXPECT_EQ(tcs_to_utf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
    // Wide text is UTF-32 here: two surrogates are two strays, never one pair.
    EXPECT_EQ(tcs_to_utf8({wchar_t(0xD83D), wchar_t(0xDE00)}), "\xEF\xBF\xBD\xEF\xBF\xBD");
#endif
}

}  // namespace
}  // namespace Ovra
