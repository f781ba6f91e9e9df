#pragma once

// A scripted stand-in for libntp: "GetNtpTime" answers each server name as the test says and
// records every query.

#include "tests/fakes/FakePlatform.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Ovra {
namespace fakes {

// Where the service looks for libntp: beside Ovra-Platform-Misc, which the build puts beside the
// test executables.
std::wstring NtpLibraryPath();

class ScriptedNtp {
public:
    static const int kUnscripted = 99;  // the code of a server without a script

    static ScriptedNtp& Instance();
    // A FakeModule exporting "GetNtpTime".
    static FakeModule Module();

    void Reset();
    // `server` answers `code`, storing `time` (also when the code is a failure).
    void Script(const std::wstring& server, int code, long long time);
    std::vector<std::wstring> Queries() const;

private:
    static int GetNtpTime(const std::wstring& server, long long& time);

    mutable std::mutex m_mutex;
    std::map<std::wstring, std::pair<int, long long>> m_answers;
    std::vector<std::wstring> m_queries;
};

}  // namespace fakes
}  // namespace Ovra
