#pragma once

// The time-sync service's counterparts in tests: a scripted stand-in for libntp, whose
// "GetNtpTime" answers each server name as the test says and records every query, and an
// observer that records every call.

#include <Ovra/Bases/ModuleDir.h>
#include <Ovra/TimeSyncService.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/support/RecordingObserver.h"

#include <filesystem>
#include <functional>

namespace Ovra::fakes {

// Where the service looks for libntp: beside Ovra-Platform-Misc, which the build puts beside the
// test executables.
inline std::wstring NtpLibraryPath() {
    std::wstring dir;
    GetModuleDir(dir);
#if defined(_WIN32)
    return dir + L"\\libntp.dll";
#else
    // The executable may be named relative to the working folder; libraries never are.
    return (std::filesystem::absolute(dir).lexically_normal() / "libntp.so").wstring();
#endif
}

class ScriptedNtp {
public:
    static const int kUnscripted = 99;  // the code of a server without a script

    static ScriptedNtp& Instance() {
        static ScriptedNtp instance;
        return instance;
    }
    // A FakeModule exporting "GetNtpTime".
    static FakeModule Module() { return {{{"GetNtpTime", reinterpret_cast<void*>(&GetNtpTime)}}}; }

    void Reset() { Hold(), m_answers.clear(), m_queries.clear(); }
    // `server` answers `code`, storing `time` (also when the code is a failure).
    void Script(const std::wstring& server, int code, long long time) {
        Hold(), m_answers[server] = {code, time};
    }
    std::vector<std::wstring> Queries() const { return Hold(), m_queries; }

private:
    Lock Hold() const { return Lock(m_mutex); }  // for one full expression
    static int GetNtpTime(const std::wstring& server, long long& time) {
        ScriptedNtp& self = Instance();
        Lock lock(self.m_mutex);
        self.m_queries.push_back(server);
        const auto it = self.m_answers.find(server);
        if (it == self.m_answers.end()) return kUnscripted;
        time = it->second.second;
        return it->second.first;
    }

    mutable std::mutex m_mutex;
    std::map<std::wstring, std::pair<int, long long>> m_answers;
    std::vector<std::wstring> m_queries;
};

// Records every call; `onCall` then runs inside it with the live time variable.
struct TimeObserver : TimeSyncServiceObserver,
                      ::testing_support::RecordingObserver<int, long long, std::wstring> {
    std::function<void(TimeSyncService*, int code, long long& time)> onCall;
    void OnTimeSync(TimeSyncService* service, int code, long long& time,
                    const std::wstring& server) override {
        Record(code, time, server);
        if (onCall) onCall(service, code, time);
    }
};

}  // namespace Ovra::fakes
