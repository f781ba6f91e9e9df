#include "src/health/SelfTestNames.h"

#include <Ovra/DiskHealth.h>

namespace Ovra {
namespace health {

const wchar_t* SelfTestKindName(int kind) {
    static const wchar_t* const kKinds[] = {L"offline", L"short", L"extended", L"conveyance"};
    return kind >= DiskSelfTest::Offline && kind <= DiskSelfTest::Conveyance ? kKinds[kind]
                                                                             : L"unknown";
}

const wchar_t* SelfTestResultName(int result) {
    static const wchar_t* const kResults[] = {
        L"passed",        L"aborted",         L"interrupted",
        L"fatal",         L"unknown failure", L"electrical failure",
        L"servo failure", L"read failure",    L"handling damage"};
    if (result == DiskSelfTest::InProgress) return L"in progress";
    return result >= DiskSelfTest::Passed && result <= DiskSelfTest::HandlingDamage
               ? kResults[result]
               : L"unknown";
}

}  // namespace health
}  // namespace Ovra
