#include "tests/support/ChildProcess.h"

#include <Ovra/Bases/ModuleDir.h>
#include <Ovra/Bases/StringConv.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace Ovra {
namespace testing_support {

std::string HelperProgram(const std::string& name) {
    std::wstring dir;
    GetModuleDir(dir);
#if defined(_WIN32)
    return tcs_to_mbs(dir) + "\\" + name + ".exe";
#else
    return tcs_to_utf8(dir) + "/" + name;
#endif
}

ChildProcess::~ChildProcess() {
    CloseInput();
    Kill();
    Wait();
}

bool ChildProcess::ReadLine(std::string& line) {
    std::string::size_type newline;
    while ((newline = m_buffer.find('\n')) == std::string::npos) {
        char chunk[256];
#if defined(_WIN32)
        DWORD got = 0;
        if (!m_output || !::ReadFile(m_output, chunk, sizeof chunk, &got, nullptr)) got = 0;
#else
        ssize_t got = m_output >= 0 ? ::read(m_output, chunk, sizeof chunk) : -1;
#endif
        if (got <= 0) return false;
        m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
    line = m_buffer.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    m_buffer.erase(0, newline + 1);
    return true;
}

#if defined(_WIN32)

// One argument as the C runtime splits a command line: backslashes count only before a quote,
// so those before the closing quote are doubled ("Q:\\" must not end in an escaped quote).
static std::wstring Quote(const std::wstring& arg) {
    std::wstring quoted = L"\"" + arg;
    for (std::size_t i = arg.size(); i > 0 && arg[i - 1] == L'\\'; --i) quoted += L'\\';
    return quoted + L"\"";
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!::CreatePipe(&childIn, &m_input, &inherit, 0)) return false;
    if (!::CreatePipe(&m_output, &childOut, &inherit, 0)) return false;
    ::SetHandleInformation(m_input, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = Quote(mbs_to_tcs(program));
    for (const std::string& arg : args) command += L" " + Quote(mbs_to_tcs(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    BOOL ok = ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &info);
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
    if (!ok) return false;
    ::CloseHandle(info.hThread);
    m_process = info.hProcess;
    return true;
}

void ChildProcess::CloseInput() {
    if (m_input) ::CloseHandle(m_input);
    m_input = nullptr;
}

void ChildProcess::Kill() {
    if (m_process) ::TerminateProcess(m_process, 137);
}

int ChildProcess::Wait() {
    DWORD code = 137;
    if (m_process) {
        ::WaitForSingleObject(m_process, INFINITE);
        ::GetExitCodeProcess(m_process, &code);
        ::CloseHandle(m_process);
    }
    m_process = nullptr;
    if (m_output) ::CloseHandle(m_output);
    m_output = nullptr;
    return code == 137 ? -1 : static_cast<int>(code);
}

#else

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (::pipe(in) != 0) return false;
    m_input = in[1];
    if (::pipe(out) != 0) return ::close(in[0]), false;
    m_output = out[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (rc == 0) m_pid = pid;
    return rc == 0;  // on failure the destructor closes the pipes
}

void ChildProcess::CloseInput() {
    if (m_input >= 0) ::close(m_input);
    m_input = -1;
}

void ChildProcess::Kill() {
    if (m_pid > 0) ::kill(m_pid, SIGKILL);
}

int ChildProcess::Wait() {
    int status = -1;
    if (m_pid > 0) ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    if (m_output >= 0) ::close(m_output);
    m_output = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace testing_support
}  // namespace Ovra
