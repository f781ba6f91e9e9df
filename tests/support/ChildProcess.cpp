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

std::string ExecutableDir() {
    std::wstring dir;
    GetModuleDir(dir);
#if defined(_WIN32)
    return tcs_to_mbs(dir) + "\\";
#else
    return tcs_to_utf8(dir) + "/";
#endif
}

std::string HelperProgram(const std::string& name) {
#if defined(_WIN32)
    return ExecutableDir() + name + ".exe";
#else
    return ExecutableDir() + name;
#endif
}

ChildProcess::~ChildProcess() {
    CloseInput();
    Kill();
    Wait();
}

#if defined(_WIN32)

namespace {
// One argument as the C runtime splits a command line: backslashes are literal except before a
// quote, so those before an embedded quote and before the closing quote are doubled.
std::wstring QuoteArgument(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}
}  // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr, input = nullptr, output = nullptr;
    if (!::CreatePipe(&childIn, &input, &inherit, 0)) return false;
    if (!::CreatePipe(&output, &childOut, &inherit, 0)) return false;
    ::SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = QuoteArgument(mbs_to_tcs(program));
    for (const std::string& arg : args) command += L" " + QuoteArgument(mbs_to_tcs(arg));
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
    if (!ok) {
        ::CloseHandle(input);
        ::CloseHandle(output);
        return false;
    }
    ::CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_input = input;
    m_output = output;
    return true;
}

bool ChildProcess::ReadLine(std::string& line) {
    for (;;) {
        std::string::size_type newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            line = m_buffer.substr(0, newline);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            m_buffer.erase(0, newline + 1);
            return true;
        }
        char chunk[256];
        DWORD got = 0;
        if (!m_output || !::ReadFile(m_output, chunk, sizeof chunk, &got, nullptr) || got == 0)
            return false;
        m_buffer.append(chunk, got);
    }
}

void ChildProcess::CloseInput() {
    if (m_input) ::CloseHandle(m_input);
    m_input = nullptr;
}

void ChildProcess::Kill() {
    if (m_process) ::TerminateProcess(m_process, 137);
}

int ChildProcess::Wait() {
    if (!m_process) return -1;
    ::WaitForSingleObject(m_process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(m_process, &code);
    ::CloseHandle(m_process);
    m_process = nullptr;
    if (m_output) ::CloseHandle(m_output);
    m_output = nullptr;
    return code == 137 ? -1 : static_cast<int>(code);
}

#else

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (::pipe(in) != 0) return false;
    if (::pipe(out) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        return false;
    }
    m_pid = pid;
    m_input = in[1];
    m_output = out[0];
    return true;
}

bool ChildProcess::ReadLine(std::string& line) {
    for (;;) {
        std::string::size_type newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return true;
        }
        char chunk[256];
        ssize_t got = m_output >= 0 ? ::read(m_output, chunk, sizeof chunk) : -1;
        if (got <= 0) return false;
        m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

void ChildProcess::CloseInput() {
    if (m_input >= 0) ::close(m_input);
    m_input = -1;
}

void ChildProcess::Kill() {
    if (m_pid > 0) ::kill(m_pid, SIGKILL);
}

int ChildProcess::Wait() {
    if (m_pid <= 0) return -1;
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    if (m_output >= 0) ::close(m_output);
    m_output = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace testing_support
}  // namespace Ovra
