#include <Ovra/Bases/Clock.h>

#include "base/platform/Platform.h"

namespace Ovra {

long long GetCurTime() {
    return platform::Sys().GetCurTime();
}

int SetCurTime(const long long& time) {
    return platform::Sys().SetCurTime(time) ? 1 : 0;
}

int SetTimeZone(const TimeZone& zone) {
    return platform::Sys().SetTimeZone(zone) ? 1 : 0;
}

}  // namespace Ovra
