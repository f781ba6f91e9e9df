#include "src/log/LogRows.h"

#include "src/log/CppSQLite3Rows.h"

#include <Ovra/Bases/StringConv.h>

#include <cfloat>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

namespace Ovra {
namespace logrows {

namespace {

const char* SkipSpace(const char* p) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    return p;
}

// Reads [+-]digits, saturating at the limits of T.
template <typename T>
T ParseSaturating(const char* text) {
    const char* p = SkipSpace(text);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    using Wide = unsigned long long;
    const Wide limit = negative ? static_cast<Wide>(std::numeric_limits<T>::max()) + 1
                                : static_cast<Wide>(std::numeric_limits<T>::max());
    Wide magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const Wide digit = static_cast<Wide>(*p - '0');
        if (magnitude > (limit - digit) / 10) {
            return negative ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) return static_cast<T>(magnitude);
    return magnitude == limit ? std::numeric_limits<T>::min() : -static_cast<T>(magnitude);
}

float NarrowToFloat(double value) {
    // A finite double beyond the float range would be undefined to convert; it becomes infinite.
    if (value > FLT_MAX) return std::numeric_limits<float>::infinity();
    if (value < -FLT_MAX) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

using Scratch = RecordReader::Scratch;

// The reading routines of the column types, one chosen per column.
template <typename T>
void ReadInteger(const char* text, int, Scratch&, LogVariant& value) {
    value.SetValue(static_cast<T>(ParseInt(text)));
}

void ReadInt64(const char* text, int, Scratch&, LogVariant& value) {
    value.SetValue(ParseInt64(text));
}

void ReadFloat(const char* text, int, Scratch&, LogVariant& value) {
    value.SetValue(NarrowToFloat(ParseDouble(text)));
}

void ReadDouble(const char* text, int, Scratch&, LogVariant& value) {
    value.SetValue(ParseDouble(text));
}

void ReadRealFloat(double real, LogVariant& value) {
    value.SetValue(NarrowToFloat(real));
}

void ReadRealDouble(double real, LogVariant& value) {
    value.SetValue(real);
}

// The text up to its first zero byte, as a C string of it reads. ASCII is widened straight into
// a buffer that only ever grows; the first other byte hands the rest to the full conversion.
void ReadText(const char* text, int bytes, Scratch& scratch, LogVariant& value) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const std::size_t length = static_cast<std::size_t>(bytes);
    if (scratch.wide.size() <= length) scratch.wide.resize(length + 1);
    wchar_t* out = scratch.wide.data();
    std::size_t i = 0;
    for (; i < length && in[i] - 1u < 0x7Fu; ++i) out[i] = static_cast<wchar_t>(in[i]);
    if (i == length || in[i] == 0) {
        out[i] = L'\0';
        value.SetValue(static_cast<const wchar_t*>(out));
        return;
    }
    const void* zero = std::memchr(text + i, 0, length - i);
    const std::size_t rest = zero ? static_cast<const char*>(zero) - (text + i) : length - i;
    scratch.text.assign(out, i);
    AppendWideFromUtf8(text + i, rest, scratch.text);
    value.SetValue(scratch.text);
}

// A stored type word that names no type: the entry keeps an empty value.
void ReadNothing(const char*, int, Scratch&, LogVariant&) {}

}  // namespace

int ParseInt(const char* text) {
    return ParseSaturating<int>(text);
}

long long ParseInt64(const char* text) {
    return ParseSaturating<long long>(text);
}

double ParseDouble(const char* text) {
    const char* p = SkipSpace(text);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p == '+' || *p == '-') return 0.0;  // one sign only
    double value = 0.0;
    const std::from_chars_result result = std::from_chars(p, p + std::strlen(p), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = std::strtod(p, nullptr);  // gives the infinity or zero the range calls for
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

void RecordReader::Resolve(const CppSQLite3Rows& rows) {
    m_columns.clear();
    m_columns.reserve(m_types.size());
    std::string utf8;
    for (const auto& entry : m_types) {
        utf8.clear();
        AppendUtf8(entry.first.data(), entry.first.size(), utf8);
        ReadValue read = ReadNothing;
        switch (entry.second) {
            case LogVariant::Int8:
                read = ReadInteger<signed char>;
                break;
            case LogVariant::UInt8:
                read = ReadInteger<unsigned char>;
                break;
            case LogVariant::Int16:
                read = ReadInteger<short>;
                break;
            case LogVariant::UInt16:
                read = ReadInteger<unsigned short>;
                break;
            case LogVariant::Int32:
                read = ReadInteger<int>;
                break;
            case LogVariant::UInt32:
                read = ReadInteger<unsigned int>;
                break;
            case LogVariant::Int64:
                read = ReadInt64;
                break;
            case LogVariant::Float:
                read = ReadFloat;
                break;
            case LogVariant::Double:
                read = ReadDouble;
                break;
            case LogVariant::Text:
                read = ReadText;
                break;
            default:
                break;
        }
        const ReadReal real = !m_exact             ? nullptr
                              : read == ReadFloat  ? ReadRealFloat
                              : read == ReadDouble ? ReadRealDouble
                                                   : nullptr;
        m_columns.push_back(
            {&entry.first, rows.ColumnIndex(utf8.c_str()), read, read == ReadText, real});
    }
    m_resolved = true;
}

void RecordReader::Read(const CppSQLite3Rows& rows, Row& record) {
    if (!m_resolved) Resolve(rows);
    for (const Column& column : m_columns) {
        double real = 0;
        if (column.real && rows.Number(column.index, real)) {
            record.emplace_back();
            record.back().name = *column.name;
            column.real(real, record.back().value);
            continue;
        }
        const char* text = rows.Text(column.index);
        if (!text) continue;
        record.emplace_back();
        LogService::FieldData& field = record.back();
        field.name = *column.name;
        column.read(text, column.text ? rows.Bytes(column.index) : 0, m_scratch, field.value);
    }
}

}  // namespace logrows
}  // namespace Ovra
