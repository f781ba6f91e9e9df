#include "base/platform/linux/Spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace Ovra {
namespace platform {
namespace posix {

std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
    std::string folders = "/usr/sbin:/usr/bin:/sbin:/bin";
    if (const char* path = std::getenv("PATH")) folders += std::string(":") + path;
    std::istringstream in(folders);
    for (std::string folder; std::getline(in, folder, ':');) {
        if (folder.empty()) continue;
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::string();
}

int RunProgram(const std::vector<std::string>& argv, const OutputSink& sink) {
    const std::string program = argv.empty() ? std::string() : FindProgram(argv[0]);
    if (program.empty()) return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (sink && ::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (sink) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (sink) ::close(pipeFds[1]);
    if (spawned != 0) {
        if (sink) ::close(pipeFds[0]);
        return -1;
    }
    if (sink) {
        char buffer[512];
        for (;;) {
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (!sink(std::string(buffer, static_cast<std::size_t>(n)))) ::kill(pid, SIGTERM);
        }
        ::close(pipeFds[0]);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
