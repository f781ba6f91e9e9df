#pragma once

#include <Ovra/Bases/Export.h>

namespace Ovra {

// A calendar time as the time-zone rules use it (the fields of a Windows SYSTEMTIME): in a rule,
// year 0 means "every year", and day is the week of the month (1-5) on which dayOfWeek falls.
struct ZoneRuleTime {
    unsigned short year;
    unsigned short month;
    unsigned short dayOfWeek;
    unsigned short day;
    unsigned short hour;
    unsigned short minute;
    unsigned short second;
    unsigned short milliseconds;
};

// A system time zone. The fields are those of Windows' DYNAMIC_TIME_ZONE_INFORMATION, so the
// Windows build hands it to the system unchanged. `keyName` names the zone: a Windows zone key
// ("W. Europe Standard Time") on Windows, an IANA name ("Europe/Berlin") on Linux, where the rule
// fields are not used. Biases are in minutes, UTC = local time + bias.
struct TimeZone {
    long bias;
    wchar_t standardName[32];
    ZoneRuleTime standardDate;
    long standardBias;
    wchar_t daylightName[32];
    ZoneRuleTime daylightDate;
    long daylightBias;
    wchar_t keyName[128];
    unsigned char dynamicDaylightTimeDisabled;
};

// The current time in milliseconds since 1970-01-01 00:00 UTC.
OVRA_BASES_API long long GetCurTime();

// Sets the system clock to a time on the scale of GetCurTime. Nonzero on success.
OVRA_BASES_API int SetCurTime(const long long& time);

// Sets the system time zone. Nonzero on success.
OVRA_BASES_API int SetTimeZone(const TimeZone& zone);

}  // namespace Ovra
