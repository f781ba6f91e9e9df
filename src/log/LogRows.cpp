#include "src/log/LogRows.h"

#include "src/log/CppSQLite3.h"

#include <Ovra/Bases/StringConv.h>

#include <cfloat>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

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

void ReadValue(LogVariant::Type type, const char* text, std::wstring& scratch, LogVariant& value) {
    switch (type) {
        case LogVariant::Int8:
            value.SetValue(static_cast<signed char>(ParseInt(text)));
            break;
        case LogVariant::UInt8:
            value.SetValue(static_cast<unsigned char>(ParseInt(text)));
            break;
        case LogVariant::Int16:
            value.SetValue(static_cast<short>(ParseInt(text)));
            break;
        case LogVariant::UInt16:
            value.SetValue(static_cast<unsigned short>(ParseInt(text)));
            break;
        case LogVariant::Int32:
            value.SetValue(ParseInt(text));
            break;
        case LogVariant::UInt32:
            value.SetValue(static_cast<unsigned int>(ParseInt(text)));
            break;
        case LogVariant::Int64:
            value.SetValue(ParseInt64(text));
            break;
        case LogVariant::Float:
            value.SetValue(NarrowToFloat(ParseDouble(text)));
            break;
        case LogVariant::Double:
            value.SetValue(ParseDouble(text));
            break;
        case LogVariant::Text:
            scratch.clear();
            AppendWideFromUtf8(text, std::strlen(text), scratch);
            value.SetValue(scratch);
            break;
        default:
            break;  // an unknown type word: the entry keeps an empty value
    }
}

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

RecordReader::RecordReader(const std::map<std::wstring, LogVariant::Type>& types) {
    m_columns.reserve(types.size());
    for (const auto& entry : types) {
        Column column{&entry.first, std::string(), entry.second, -1};
        AppendUtf8(entry.first.data(), entry.first.size(), column.utf8);
        m_columns.push_back(std::move(column));
    }
}

void RecordReader::Append(const Column& column, const char* text, Row& record) {
    record.emplace_back();
    LogService::FieldData& field = record.back();
    field.name = *column.name;
    ReadValue(column.type, text, m_scratch, field.value);
}

void AppendRecords(const CppSQLite3Table& table,
                   const std::map<std::wstring, LogVariant::Type>& types, std::list<Row>& rows) {
    const int rowCount = table.RowCount();
    if (rowCount == 0) return;
    RecordReader reader(types);
    reader.Resolve(table);
    for (int row = 0; row < rowCount; ++row) {
        const char* const* values = table.RowValues(row);
        rows.emplace_back();
        try {
            reader.Read([values](int index) { return values[index]; }, rows.back());
        } catch (...) {
            rows.pop_back();
            throw;
        }
    }
}

}  // namespace logrows
}  // namespace Ovra
