#include "LogSyslog.h"

#include "Output.h"
#include "ValueText.h"

#include <cstdio>

namespace ovractl {

namespace {

const char kPriority[] = "<14>1 ";          // facility user (1), severity informational (6)
const char kStructuredId[] = "ovra@32473";  // private enterprise number 32473, for examples
const std::size_t kMaxNameLength = 32;

// RFC 3339 in UTC with milliseconds; "-" outside the years 0000-9999.
std::string Timestamp(long long ms) {
    long long days = ms / 86400000, rest = ms % 86400000;
    if (rest < 0) rest += 86400000, --days;
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shifted = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const long long month = shifted < 10 ? shifted + 3 : shifted - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 0 || year > 9999) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", year,
                  month, day, rest / 3600000, rest / 60000 % 60, rest / 1000 % 60, rest % 1000);
    return text;
}

// A PARAM-VALUE: '"', '\' and ']' escaped with a backslash.
void AppendParamValue(const std::string& value, std::string& out) {
    for (char c : value) {
        if (c == '"' || c == '\\' || c == ']') out += '\\';
        out += c;
    }
}

void AppendParam(const std::string& name, const std::string& value, std::string& out) {
    out += ' ';
    out += name.substr(0, kMaxNameLength);
    out += "=\"";
    AppendParamValue(value, out);
    out += '"';
}

}  // namespace

std::string SyslogMessage(const std::list<Ovra::LogService::FieldData>& record,
                          const std::wstring& cursor, const SyslogHeader& header) {
    long long time = 0;
    std::string params, all, msg;
    AppendParam("cursor", Utf8(cursor), params);
    for (const auto& field : record) {
        const std::string name = Utf8(field.name);
        const std::string value = DisplayText(field.value);
        if (field.name == Ovra::LogService::GetTimeFieldName()) time = field.value;
        AppendParam(name, value, params);
        if (name == header.msgColumn) msg = value;
        all += (all.empty() ? "" : " ") + name + '=' + value;
    }
    std::string out = kPriority;
    out += Timestamp(time) + ' ' + (header.hostname.empty() ? "-" : header.hostname) + " ovra " +
           (header.procId.empty() ? "-" : header.procId) + " log [" + kStructuredId;
    out += params + ']';
    const std::string& text = header.msgColumn.empty() ? all : msg;
    if (!text.empty()) out += ' ' + text;
    return out;
}

std::string OctetCounted(const std::string& message) {
    return std::to_string(message.size()) + ' ' + message;
}

}  // namespace ovractl
