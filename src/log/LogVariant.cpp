#include <Ovra/LogVariant.h>

#include <cstring>
#include <iomanip>
#include <locale>
#include <sstream>

namespace Ovra {

namespace {

const wchar_t* const kTypeWords[] = {L"",         L"TINYINT", L"TINYINT", L"SMALLINT",
                                     L"SMALLINT", L"INT",     L"INT",     L"INT64",
                                     L"FLOAT",    L"DOUBLE",  L"TEXT"};

// Decimal text of a signed 64-bit value, without the locale machinery of the streams.
void AppendDecimal(long long value, std::wstring& out) {
    wchar_t digits[24];
    wchar_t* end = digits + 24;
    wchar_t* p = end;
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        *--p = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = L'-';
    out.append(p, end);
}

// Fixed-point text with the field width and precision of the column formats. The stream is
// pinned to the classic locale: a host's global locale must never put a comma into SQL.
void AppendFixed(double value, int width, int precision, std::wstring& out) {
    thread_local std::wostringstream stream = [] {
        std::wostringstream s;
        s.imbue(std::locale::classic());
        return s;
    }();
    stream.str(std::wstring());
    stream.clear();
    stream << std::setprecision(precision)
           << std::setiosflags(std::ios_base::fixed | std::ios_base::showpoint) << std::setw(width)
           << value;
    out += stream.str();
}

}  // namespace

LogVariant::LogVariant() : m_type(None) {
    std::memset(m_value.bytes, 0, sizeof m_value.bytes);
}

#define OVRA_LOGVARIANT_SCALAR(T, kind)                      \
    LogVariant::LogVariant(T value) : m_type(kind) {         \
        std::memset(m_value.bytes, 0, sizeof m_value.bytes); \
        std::memcpy(m_value.bytes, &value, sizeof value);    \
    }                                                        \
    void LogVariant::SetValue(T value) {                     \
        m_type = kind;                                       \
        std::memcpy(m_value.bytes, &value, sizeof value);    \
    }                                                        \
    void LogVariant::GetValue(T& value) const {              \
        std::memcpy(&value, m_value.bytes, sizeof value);    \
    }                                                        \
    LogVariant::operator T() const {                         \
        T value;                                             \
        std::memcpy(&value, m_value.bytes, sizeof value);    \
        return value;                                        \
    }

OVRA_LOGVARIANT_SCALAR(signed char, Int8)
OVRA_LOGVARIANT_SCALAR(unsigned char, UInt8)
OVRA_LOGVARIANT_SCALAR(short, Int16)
OVRA_LOGVARIANT_SCALAR(unsigned short, UInt16)
OVRA_LOGVARIANT_SCALAR(int, Int32)
OVRA_LOGVARIANT_SCALAR(unsigned int, UInt32)
OVRA_LOGVARIANT_SCALAR(long long, Int64)
OVRA_LOGVARIANT_SCALAR(float, Float)
OVRA_LOGVARIANT_SCALAR(double, Double)

#undef OVRA_LOGVARIANT_SCALAR

LogVariant::LogVariant(const wchar_t* value) : m_type(Text), m_string(value ? value : L"") {
    std::memset(m_value.bytes, 0, sizeof m_value.bytes);
}

LogVariant::LogVariant(const std::wstring& value) : m_type(Text), m_string(value) {
    std::memset(m_value.bytes, 0, sizeof m_value.bytes);
}

LogVariant::LogVariant(const LogVariant& other)
    : m_type(other.m_type), m_value(other.m_value), m_string(other.m_string) {}

LogVariant& LogVariant::operator=(const LogVariant& other) {
    m_type = other.m_type;
    m_value = other.m_value;
    m_string = other.m_string;
    return *this;
}

LogVariant::~LogVariant() = default;

void LogVariant::SetValue(const wchar_t* value) {
    m_type = Text;
    m_string = value ? value : L"";
}

void LogVariant::SetValue(const std::wstring& value) {
    m_type = Text;
    m_string = value;
}

void LogVariant::GetValue(std::wstring& value) const {
    value = m_string;
}

LogVariant::operator std::wstring() const {
    return m_string;
}

LogVariant::Type LogVariant::GetType() const {
    return m_type;
}

LogVariant::Type LogVariant::GetType(const wchar_t* word) {
    if (!word) return None;
    std::wstring upper(word);
    for (wchar_t& c : upper) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    static const struct {
        const wchar_t* word;
        Type type;
    } kWords[] = {{L"TINYINT", Int8}, {L"SMALLINT", Int16}, {L"INT", Int32}, {L"INT64", Int64},
                  {L"FLOAT", Float},  {L"DOUBLE", Double},  {L"TEXT", Text}};
    for (const auto& entry : kWords) {
        if (upper == entry.word) return entry.type;
    }
    return None;
}

std::wstring LogVariant::GetTypeString() const {
    return GetTypeString(m_type);
}

std::wstring LogVariant::GetTypeString(Type type) {
    const int index = static_cast<int>(type);
    return index >= 1 && index <= 10 ? kTypeWords[index] : L"";
}

std::wstring LogVariant::ToString() const {
    std::wstring out;
    AppendTo(out);
    return out;
}

void LogVariant::AppendTo(std::wstring& out) const {
    switch (m_type) {
        case Int8:
            AppendDecimal(static_cast<signed char>(*this), out);
            break;
        case UInt8:
            AppendDecimal(static_cast<unsigned char>(*this), out);
            break;
        case Int16:
            AppendDecimal(static_cast<short>(*this), out);
            break;
        case UInt16:
            AppendDecimal(static_cast<unsigned short>(*this), out);
            break;
        case Int32:
        case UInt32:
            AppendDecimal(static_cast<int>(*this), out);
            break;  // UInt32 is written signed
        case Int64:
            AppendDecimal(static_cast<long long>(*this), out);
            break;
        case Float:
            AppendFixed(static_cast<float>(*this), 13, 8, out);
            break;
        case Double:
            AppendFixed(static_cast<double>(*this), 24, 18, out);
            break;
        case Text:
            out += m_string;
            break;
        default:
            break;
    }
}

}  // namespace Ovra
