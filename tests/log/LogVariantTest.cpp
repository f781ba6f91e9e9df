#include <Ovra/LogVariant.h>

#include <gtest/gtest.h>

#include <locale>
#include <thread>
#include <utility>

namespace Ovra {
namespace {

TEST(LogVariant, TextForms) {
    const std::pair<LogVariant, const wchar_t*> cases[] = {
        {LogVariant(), L""},
        {LogVariant(4294967295u), L"-1"},  // UInt32 is written signed
        {LogVariant(3000000000u), L"-1294967296"},
        {LogVariant(static_cast<unsigned char>(200)), L"200"},
        {LogVariant(static_cast<signed char>(-5)), L"-5"},
        {LogVariant(static_cast<unsigned short>(65535)), L"65535"},
        {LogVariant(static_cast<short>(-32768)), L"-32768"},
        {LogVariant(-2147483647 - 1), L"-2147483648"},
        {LogVariant(-9223372036854775807LL - 1), L"-9223372036854775808"},
        {LogVariant(1.5f), L"   1.50000000"},
        {LogVariant(-0.25f), L"  -0.25000000"},
        {LogVariant(123456789.0f), L"123456792.00000000"},  // the width is a minimum
        {LogVariant(1.5), L"    1.500000000000000000"},
        {LogVariant(L"it's"), L"it's"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.first.ToString(), c.second);
}

TEST(LogVariant, TypeWords) {
    using T = LogVariant;
    const std::pair<const wchar_t*, LogVariant::Type> words[] = {
        {L"int", T::Int32},    {L"INT64", T::Int64},   {L"tinyINT", T::Int8},
        {L"INTEGER", T::None}, {L" INT", T::None},     {L"INT ", T::None},
        {L"", T::None},        {L"\x0131NT", T::None}, {L"\xFF49NT", T::None}};
    for (const auto& w : words) EXPECT_EQ(LogVariant::GetType(w.first), w.second) << w.first;
    // The unsigned types share the words of their signed twins; other numbers have none.
    const int twins[] = {0, 1, 1, 3, 3, 5, 5, 7, 8, 9, 10};
    for (int t = -1; t <= 11; ++t) {
        const std::wstring word = LogVariant::GetTypeString(static_cast<LogVariant::Type>(t));
        EXPECT_EQ(LogVariant::GetType(word.c_str()), t >= 0 && t <= 10 ? twins[t] : 0) << t;
        EXPECT_EQ(word.empty(), t < 1 || t > 10) << t;
    }
}

TEST(LogVariant, NumbersAreRawBitsKeptApartFromTheText) {
    LogVariant value(L"abc");
    value.SetValue(-1LL);
    value.SetValue(static_cast<unsigned char>(0));  // a narrow store keeps the other bytes
    EXPECT_EQ(static_cast<long long>(value), ~0xFFLL);
    EXPECT_EQ(value.ToString(), L"0");
    value.SetValue(4294967295u);
    const LogVariant copy(value);
    value.SetValue(L"changed");
    int bits = 0;
    copy.GetValue(bits);
    EXPECT_EQ(bits, -1);
    EXPECT_EQ(copy.GetTypeString(), L"INT");
    EXPECT_EQ(static_cast<std::wstring>(copy), L"abc");
    EXPECT_EQ(static_cast<unsigned int>(value), 4294967295u);
}

// A host locale with a decimal comma and digit grouping, whatever locales the machine has.
struct CommaNumbers : std::numpunct<wchar_t> {
    wchar_t do_decimal_point() const override { return L','; }
    wchar_t do_thousands_sep() const override { return L'.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(LogVariant, FloatingTextIgnoresTheHostLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
    std::wstring single, wide;
    // A fresh thread: whatever formats its text is made while the host's locale is in force.
    std::thread([&] {
        single = LogVariant(1.5f).ToString();
        wide = LogVariant(1234567.5).ToString();
    }).join();
    std::locale::global(previous);
    EXPECT_EQ(single, L"   1.50000000");
    EXPECT_EQ(wide, L"1234567.500000000000000000");
}

}  // namespace
}  // namespace Ovra
