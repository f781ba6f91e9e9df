#include "ValueText.h"

#include <Ovra/ResultCodes.h>
#include "Output.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <sstream>

namespace ovractl {

using Ovra::LogVariant;

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool ParseInteger(const std::string& text, long long low, long long high, long long& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

bool ParseUnsigned(const std::string& text, unsigned long long high, unsigned long long& out) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > high) return false;
    out = value;
    return true;
}

bool ParseReal(const std::string& text, double& out) {
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    double value = 0;
    stream >> value;
    if (!stream || !stream.eof() || !std::isfinite(value)) return false;
    out = value;
    return true;
}

}  // namespace

LogVariant::Type TypeFromName(const std::string& name) {
    const std::string lower = Lower(name);
    static const struct {
        const char* name;
        LogVariant::Type type;
    } kNames[] = {{"int8", LogVariant::Int8},     {"uint8", LogVariant::UInt8},
                  {"int16", LogVariant::Int16},   {"uint16", LogVariant::UInt16},
                  {"int32", LogVariant::Int32},   {"uint32", LogVariant::UInt32},
                  {"int64", LogVariant::Int64},   {"float", LogVariant::Float},
                  {"double", LogVariant::Double}, {"text", LogVariant::Text},
                  {"tinyint", LogVariant::Int8},  {"smallint", LogVariant::Int16},
                  {"int", LogVariant::Int32}};
    for (const auto& entry : kNames) {
        if (lower == entry.name) return entry.type;
    }
    return LogVariant::None;
}

std::string TypeNames() {
    return "int8 uint8 int16 uint16 int32 uint32 int64 float double text";
}

bool ParseValue(LogVariant::Type type, const std::string& text, LogVariant& value) {
    long long number = 0;
    unsigned long long unsignedNumber = 0;
    double real = 0;
    switch (type) {
        // A column declared unsigned reads back with its signed type word: take either range.
        case LogVariant::Int8:
            if (ParseUnsigned(text, 255, unsignedNumber) && unsignedNumber > 127)
                return ParseValue(LogVariant::UInt8, text, value);
            if (!ParseInteger(text, -128, 127, number)) return false;
            value.SetValue(static_cast<signed char>(number));
            return true;
        case LogVariant::UInt8:
            if (!ParseUnsigned(text, 255, unsignedNumber)) return false;
            value.SetValue(static_cast<unsigned char>(unsignedNumber));
            return true;
        case LogVariant::Int16:
            if (ParseUnsigned(text, 65535, unsignedNumber) && unsignedNumber > 32767)
                return ParseValue(LogVariant::UInt16, text, value);
            if (!ParseInteger(text, -32768, 32767, number)) return false;
            value.SetValue(static_cast<short>(number));
            return true;
        case LogVariant::UInt16:
            if (!ParseUnsigned(text, 65535, unsignedNumber)) return false;
            value.SetValue(static_cast<unsigned short>(unsignedNumber));
            return true;
        case LogVariant::Int32:
            if (ParseUnsigned(text, 4294967295ULL, unsignedNumber) &&
                unsignedNumber > 2147483647ULL)
                return ParseValue(LogVariant::UInt32, text, value);
            if (!ParseInteger(text, std::numeric_limits<int>::min(),
                              std::numeric_limits<int>::max(), number))
                return false;
            value.SetValue(static_cast<int>(number));
            return true;
        case LogVariant::UInt32:
            if (!ParseUnsigned(text, 4294967295ULL, unsignedNumber)) return false;
            value.SetValue(static_cast<unsigned int>(unsignedNumber));
            return true;
        case LogVariant::Int64:
            if (!ParseInteger(text, std::numeric_limits<long long>::min(),
                              std::numeric_limits<long long>::max(), number))
                return false;
            value.SetValue(number);
            return true;
        case LogVariant::Float:
            if (!ParseReal(text, real) || std::fabs(real) > std::numeric_limits<float>::max())
                return false;
            value.SetValue(static_cast<float>(real));
            return true;
        case LogVariant::Double:
            if (!ParseReal(text, real)) return false;
            value.SetValue(real);
            return true;
        case LogVariant::Text:
            value.SetValue(Wide(text));
            return true;
        default:
            return false;
    }
}

std::string DisplayText(const LogVariant& value) {
    if (value.GetType() == LogVariant::Float || value.GetType() == LogVariant::Double) {
        // The shortest text that reads back as the stored value, not the padded SQL form.
        std::ostringstream stream;
        stream.imbue(std::locale::classic());
        if (value.GetType() == LogVariant::Float) {
            stream << std::setprecision(7) << static_cast<float>(value);
        } else {
            stream << std::setprecision(15) << static_cast<double>(value);
        }
        return stream.str();
    }
    std::string text = Utf8(value.ToString());
    const std::string::size_type first = text.find_first_not_of(' ');  // float fields are padded
    return first == std::string::npos ? std::string() : text.substr(first);
}

nlohmann::json JsonValue(const LogVariant& value) {
    switch (value.GetType()) {
        case LogVariant::Int8:
            return static_cast<int>(static_cast<signed char>(value));
        case LogVariant::UInt8:
            return static_cast<unsigned>(static_cast<unsigned char>(value));
        case LogVariant::Int16:
            return static_cast<int>(static_cast<short>(value));
        case LogVariant::UInt16:
            return static_cast<unsigned>(static_cast<unsigned short>(value));
        case LogVariant::Int32:
            return static_cast<int>(value);
        case LogVariant::UInt32:
            return static_cast<unsigned int>(value);
        case LogVariant::Int64:
            return static_cast<long long>(value);
        case LogVariant::Float:
            return static_cast<double>(static_cast<float>(value));
        case LogVariant::Double:
            return static_cast<double>(value);
        case LogVariant::Text:
            return Utf8(static_cast<std::wstring>(value));
        default:
            return nullptr;
    }
}

bool ValueFromJson(LogVariant::Type type, const nlohmann::json& json, LogVariant& value) {
    if (json.is_object() || json.is_array() || json.is_null()) return false;
    // nlohmann writes reals with 17 significant digits, which read back to the same bits.
    return ParseValue(type, json.is_string() ? json.get<std::string>() : json.dump(), value);
}

std::string LibraryCodeText(int code) {
    const char* text = Ovra::result::Text(code);
    return text ? text : "result " + std::to_string(code);
}

}  // namespace ovractl
