#include "tests/fakes/timesync/ScriptedNtp.h"

#include <Ovra/Bases/ModuleDir.h>

#include <filesystem>

namespace Ovra {
namespace fakes {

std::wstring NtpLibraryPath() {
    std::wstring dir;
    GetModuleDir(dir);
#if defined(_WIN32)
    return dir + L"\\libntp.dll";
#else
    // The executable may be named relative to the working folder; libraries never are.
    return (std::filesystem::absolute(dir).lexically_normal() / "libntp.so").wstring();
#endif
}

ScriptedNtp& ScriptedNtp::Instance() {
    static ScriptedNtp instance;
    return instance;
}

FakeModule ScriptedNtp::Module() {
    FakeModule module;
    module.symbols["GetNtpTime"] = reinterpret_cast<void*>(&ScriptedNtp::GetNtpTime);
    return module;
}

int ScriptedNtp::GetNtpTime(const std::wstring& server, long long& time) {
    ScriptedNtp& self = Instance();
    std::lock_guard<std::mutex> lock(self.m_mutex);
    self.m_queries.push_back(server);
    const auto it = self.m_answers.find(server);
    if (it == self.m_answers.end()) return kUnscripted;
    time = it->second.second;
    return it->second.first;
}

void ScriptedNtp::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.clear();
    m_queries.clear();
}

void ScriptedNtp::Script(const std::wstring& server, int code, long long time) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers[server] = {code, time};
}

std::vector<std::wstring> ScriptedNtp::Queries() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queries;
}

}  // namespace fakes
}  // namespace Ovra
