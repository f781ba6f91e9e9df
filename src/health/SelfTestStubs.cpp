// Stand-ins until the self-test commands land: every disk refuses, every word is "unknown".
#include <Ovra/DiskHealth.h>

#include <Ovra/ResultCodes.h>

namespace Ovra {

int StartDiskSelfTest(long long, int, std::wstring& reason) {
    reason = L"self-tests are not available in this build";
    return result::kNoSmart;
}

int AbortDiskSelfTest(long long, std::wstring& reason) {
    reason = L"self-tests are not available in this build";
    return result::kNoSmart;
}

const wchar_t* DiskSelfTestKindName(int) {
    return L"unknown";
}

const wchar_t* DiskSelfTestResultName(int) {
    return L"unknown";
}

}  // namespace Ovra
