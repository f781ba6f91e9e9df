#include "ShellCommand.h"

#include "Output.h"

#include <chrono>

#if defined(_WIN32)
#include <windows.h>

#include <cwchar>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;
#endif

namespace ovractl {

namespace {

bool Overridden(const Environment& environment, const std::string& entry) {
    for (const auto& variable : environment) {
        const std::string& name = variable.first;
        if (entry.size() > name.size() && entry[name.size()] == '=' &&
#if defined(_WIN32)
            // Windows compares variable names without case.
            CompareStringOrdinal(Wide(entry.substr(0, name.size())).c_str(), -1, Wide(name).c_str(),
                                 -1, TRUE) == CSTR_EQUAL
#else
            entry.compare(0, name.size(), name) == 0
#endif
        )
            return true;
    }
    return false;
}

}  // namespace

#if defined(_WIN32)

namespace {

// A double-NUL-terminated block: ours without the names we set, then those.
std::wstring EnvironmentBlock(const Environment& environment) {
    std::wstring block;
    if (wchar_t* strings = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1)
            if (!Overridden(environment, Utf8(entry))) block.append(entry).push_back(L'\0');
        FreeEnvironmentStringsW(strings);
    }
    for (const auto& variable : environment)
        block.append(Wide(variable.first + "=" + variable.second)).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

HANDLE InheritableCopy(DWORD which) {
    HANDLE copy = nullptr;
    HANDLE own = GetStdHandle(which);
    if (own && own != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    return copy;
}

}  // namespace

bool RunShellCommand(const std::string& command, const Environment& environment,
                     const std::string& input, int timeoutMs, std::string& error) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    // Large enough for the whole input: the write never waits for a child that does not read.
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, static_cast<DWORD>(input.size() + 4096))) {
        error = "cannot create a pipe (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = InheritableCopy(STD_OUTPUT_HANDLE);
    startup.hStdError = InheritableCopy(STD_ERROR_HANDLE);
    wchar_t shell[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"ComSpec", shell, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) wcscpy(shell, L"cmd.exe");
    std::wstring line = L"\"" + std::wstring(shell) + L"\" /d /s /c \"" + Wide(command) + L"\"";
    std::wstring block = EnvironmentBlock(environment);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, &block[0],
                                        nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    for (HANDLE h : {readEnd, startup.hStdOutput, startup.hStdError})
        if (h) CloseHandle(h);
    if (!started) {
        CloseHandle(writeEnd);
        error = "cannot start " + Utf8(shell) + " (error " + std::to_string(startError) + ")";
        return false;
    }
    CloseHandle(process.hThread);
    DWORD written = 0;
    WriteFile(writeEnd, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    CloseHandle(writeEnd);
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        error = "still running after " + std::to_string(timeoutMs / 1000) + " s: ended";
    } else if (GetExitCodeProcess(process.hProcess, &code) && code != 0) {
        error = "exited with " + std::to_string(code);
    }
    CloseHandle(process.hProcess);
    return error.empty();
}

#else

namespace {

// Writes without blocking and without dying of SIGPIPE when the command does not read.
void Feed(int fd, const std::string& input) {
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    for (std::size_t done = 0; done < input.size();) {
        const ssize_t n = ::write(fd, input.data() + done, input.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    const timespec now{0, 0};
    while (sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

bool RunShellCommand(const std::string& command, const Environment& environment,
                     const std::string& input, int timeoutMs, std::string& error) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry)
        if (!Overridden(environment, *entry)) entries.push_back(*entry);
    for (const auto& variable : environment)
        entries.push_back(variable.first + "=" + variable.second);
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(&entry[0]);
    envp.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    // Its own process group, so that a timeout ends what it started too; and the signals we
    // ignore or block are not ignored or blocked in it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char sh[] = "sh", c[] = "-c";
    char* argv[] = {sh, c, const_cast<char*>(command.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[0]);
    if (spawned != 0) {
        ::close(fds[1]);
        error = std::string("cannot start /bin/sh: ") + std::strerror(spawned);
        return false;
    }
    Feed(fds[1], input);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    // No portable wait with a timeout on a child: look every 10 ms.
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) break;
        if (ended < 0 && errno != EINTR) {
            error = std::string("cannot wait for it: ") + std::strerror(errno);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            error = "still running after " + std::to_string(timeoutMs / 1000) + " s: killed";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        error = "exited with " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) error = "ended by signal " + std::to_string(WTERMSIG(status));
    return error.empty();
}

#endif

}  // namespace ovractl
