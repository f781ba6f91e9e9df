#include <Ovra/LogVariant.h>

#include <gtest/gtest.h>

#include <cstring>
#include <locale>

namespace Ovra {
namespace {

TEST(LogVariant, DefaultIsAnEmptyNone) {
    LogVariant value;
    EXPECT_EQ(value.GetType(), LogVariant::None);
    EXPECT_EQ(value.ToString(), L"");
    EXPECT_EQ(value.GetTypeString(), L"");
    EXPECT_EQ(static_cast<long long>(value), 0);  // all eight bytes zero
}

TEST(LogVariant, TypeWordsParseCaseInsensitivelyButExactly) {
    EXPECT_EQ(LogVariant::GetType(L"int"), LogVariant::Int32);
    EXPECT_EQ(LogVariant::GetType(L"Int"), LogVariant::Int32);
    EXPECT_EQ(LogVariant::GetType(L"INT"), LogVariant::Int32);
    EXPECT_EQ(LogVariant::GetType(L"int64"), LogVariant::Int64);
    EXPECT_EQ(LogVariant::GetType(L"tinyINT"), LogVariant::Int8);
    EXPECT_EQ(LogVariant::GetType(L"INTEGER"), LogVariant::None);
    EXPECT_EQ(LogVariant::GetType(L" INT"), LogVariant::None);
    EXPECT_EQ(LogVariant::GetType(L"INT "), LogVariant::None);
    EXPECT_EQ(LogVariant::GetType(L""), LogVariant::None);
    // Only a-z are upper-cased: a dotless i or a full-width letter never makes a type word.
    EXPECT_EQ(LogVariant::GetType(L"\x0131NT"), LogVariant::None);
    EXPECT_EQ(LogVariant::GetType(L"\xFF49NT"), LogVariant::None);
}

TEST(LogVariant, TypeWordsRoundTripToSignedTwins) {
    const LogVariant::Type expected[] = {LogVariant::None,   LogVariant::Int8,  LogVariant::Int8,
                                         LogVariant::Int16,  LogVariant::Int16, LogVariant::Int32,
                                         LogVariant::Int32,  LogVariant::Int64, LogVariant::Float,
                                         LogVariant::Double, LogVariant::Text};
    for (int t = 1; t <= 10; ++t) {
        const std::wstring word = LogVariant::GetTypeString(static_cast<LogVariant::Type>(t));
        EXPECT_EQ(LogVariant::GetType(word.c_str()), expected[t]) << t;
    }
    EXPECT_EQ(LogVariant::GetTypeString(LogVariant::UInt16), L"SMALLINT");
    EXPECT_EQ(LogVariant::GetTypeString(static_cast<LogVariant::Type>(0)), L"");
    EXPECT_EQ(LogVariant::GetTypeString(static_cast<LogVariant::Type>(11)), L"");
    EXPECT_EQ(LogVariant::GetTypeString(static_cast<LogVariant::Type>(-1)), L"");
}

TEST(LogVariant, IntegerTextForms) {
    EXPECT_EQ(LogVariant(4294967295u).ToString(), L"-1");  // written signed
    EXPECT_EQ(LogVariant(3000000000u).ToString(), L"-1294967296");
    EXPECT_EQ(LogVariant(static_cast<unsigned char>(255)).ToString(), L"255");
    EXPECT_EQ(LogVariant(static_cast<signed char>(-1)).ToString(), L"-1");
    EXPECT_EQ(LogVariant(static_cast<signed char>(-5)).ToString(), L"-5");
    EXPECT_EQ(LogVariant(static_cast<unsigned short>(65535)).ToString(), L"65535");
    EXPECT_EQ(LogVariant(static_cast<short>(-32768)).ToString(), L"-32768");
    EXPECT_EQ(LogVariant(-2147483647 - 1).ToString(), L"-2147483648");
    EXPECT_EQ(LogVariant(-9223372036854775807LL - 1).ToString(), L"-9223372036854775808");
    EXPECT_EQ(LogVariant(1700000000000LL).ToString(), L"1700000000000");
    EXPECT_EQ(LogVariant(0).ToString(), L"0");
}

TEST(LogVariant, FloatingTextFormsHaveTheirFieldWidths) {
    EXPECT_EQ(LogVariant(1.5f).ToString(), L"   1.50000000");
    EXPECT_EQ(LogVariant(-0.25f).ToString(), L"  -0.25000000");
    EXPECT_EQ(LogVariant(1.5).ToString(), L"    1.500000000000000000");
    EXPECT_EQ(LogVariant(1.5).ToString().size(), 24u);
    EXPECT_EQ(LogVariant(123456789.0f).ToString(), L"123456792.00000000");  // width is a minimum
}

// A host locale with a decimal comma and digit grouping, whatever locales the machine has.
struct GermanNumbers : std::numpunct<wchar_t> {
    wchar_t do_decimal_point() const override { return L','; }
    wchar_t do_thousands_sep() const override { return L'.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(LogVariant, FloatingTextIgnoresTheHostLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new GermanNumbers));
    const std::wstring single = LogVariant(1.5f).ToString();
    const std::wstring wide = LogVariant(1234567.5).ToString();
    std::locale::global(previous);
    EXPECT_EQ(single, L"   1.50000000");
    EXPECT_EQ(wide, L"1234567.500000000000000000");
}

TEST(LogVariant, ScalarAndTextAreIndependent) {
    LogVariant value(L"abc");
    value.SetValue(7);
    EXPECT_EQ(value.GetType(), LogVariant::Int32);
    EXPECT_EQ(static_cast<int>(value), 7);
    EXPECT_EQ(static_cast<std::wstring>(value), L"abc");
    EXPECT_EQ(value.ToString(), L"7");
    value.SetValue(std::wstring(L"xyz"));
    int number = 0;
    value.GetValue(number);
    EXPECT_EQ(number, 7);
    EXPECT_EQ(value.ToString(), L"xyz");
}

TEST(LogVariant, NarrowStoresKeepTheOtherBytes) {
    LogVariant value(-1LL);  // all bits set
    value.SetValue(static_cast<unsigned char>(0));
    EXPECT_EQ(static_cast<unsigned long long>(static_cast<long long>(value)),
              0xFFFFFFFFFFFFFF00ULL);
    value.SetValue(4294967295u);
    int bits = 0;
    value.GetValue(bits);
    EXPECT_EQ(bits, -1);
    EXPECT_EQ(static_cast<unsigned int>(value), 4294967295u);
}

TEST(LogVariant, CopiesAreDeep) {
    LogVariant source(std::wstring(L"first"));
    LogVariant copy(source);
    LogVariant assigned;
    assigned = source;
    source.SetValue(L"changed");
    EXPECT_EQ(static_cast<std::wstring>(copy), L"first");
    EXPECT_EQ(static_cast<std::wstring>(assigned), L"first");
    EXPECT_EQ(assigned.GetType(), LogVariant::Text);
    LogVariant d(2.25);
    LogVariant e;
    e = d;
    EXPECT_EQ(static_cast<double>(e), 2.25);
}

}  // namespace
}  // namespace Ovra
