#include "src/watch/SelfTestSchedule.h"

#include <Ovra/DiskHealth.h>
#include <Ovra/ResultCodes.h>

#include <new>

namespace Ovra {
namespace watch {

namespace {

struct Letter {
    wchar_t letter;
    int kind;
};
const Letter kByLength[] = {
    {L'L', DiskSelfTest::Extended}, {L'C', DiskSelfTest::Conveyance}, {L'S', DiskSelfTest::Short}};

std::wstring TwoDigits(int value) {
    return (value < 10 ? L"0" : L"") + std::to_wstring(value);
}

}  // namespace

int SelfTestSchedule::Parse(const std::wstring& expression,
                            std::shared_ptr<const SelfTestSchedule>& schedule) {
    try {
        if (expression.empty()) {
            schedule.reset();
            return result::kOk;
        }
        schedule.reset(new SelfTestSchedule(std::wregex(expression, std::regex::extended)));
        return result::kOk;
    } catch (const std::regex_error&) {
        return result::kBadArgument;
    } catch (const std::bad_alloc&) {
        return result::kOutOfMemory;
    }
}

int SelfTestSchedule::Due(const std::tm& local) const {
    // tm counts weekdays from Sunday = 0; smartd's d runs from Monday = 1 to Sunday = 7.
    const std::wstring when = L"/" + TwoDigits(local.tm_mon + 1) + L"/" + TwoDigits(local.tm_mday) +
                              L"/" + std::to_wstring(local.tm_wday == 0 ? 7 : local.tm_wday) +
                              L"/" + TwoDigits(local.tm_hour);
    for (const Letter& test : kByLength) {
        try {
            if (std::regex_match(test.letter + when, m_expression)) return test.kind;
        } catch (const std::regex_error&) {  // too complex to match: as if it did not
        }
    }
    return -1;
}

bool LocalTime(long long time, std::tm& local) {
    // Floor division: a time before the epoch still falls in the right second.
    const long long seconds = time / 1000 - (time % 1000 < 0 ? 1 : 0);
    const std::time_t t = static_cast<std::time_t>(seconds);
#if defined(_WIN32)
    return localtime_s(&local, &t) == 0;
#else
    return localtime_r(&t, &local) != nullptr;
#endif
}

long long HourOf(const std::tm& local) {
    return ((local.tm_year * 400LL + local.tm_yday) * 24) + local.tm_hour;
}

}  // namespace watch
}  // namespace Ovra
