#include "tests/support/ChronyServer.h"

#include <ntp/Ntp.h>

#include "tests/support/TestUdp.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace NtpTest {

ChronyServer::~ChronyServer() {
    Stop();
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

void ChronyServer::Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

bool ChronyServer::Start(bool synchronised, std::string& error) {
    if (access(kPath, X_OK) != 0) {
        error = std::string(kPath) + " is not installed";
        return false;
    }
    char folder[] = "/tmp/ovra-chrony-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        error = "mkdtemp failed";
        return false;
    }
    m_folder = folder;
    // A port the system just handed out is very likely still free; if chronyd finds it taken it
    // exits at once and we try another.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (Spawn(synchronised, error)) return true;
        Stop();
        if (error.find("Nothing to do") == std::string::npos) return false;
    }
    return false;
}

bool ChronyServer::Spawn(bool synchronised, std::string& error) {
    {
        UdpSocket probe(AF_INET);
        if (!probe.Valid()) {
            error = "no loopback UDP";
            return false;
        }
        m_port = probe.Port();
    }
    const std::string conf = m_folder + "/chrony.conf";
    const std::string log = m_folder + "/chronyd.log";
    {
        std::ofstream out(conf);
        out << "port " << m_port << "\nbindaddress 127.0.0.1\nbindaddress ::1\n"
            << "allow 127.0.0.1\nallow ::1\ncmdport 0\nbindcmdaddress /\n"
            << "pidfile " << m_folder << "/chronyd.pid\n"
            << (synchronised ? "local stratum 8\n" : "");
    }
    std::vector<std::string> args = {kPath, "-x", "-d", "-f", conf};
    // As root it would drop to a user that cannot remove its pidfile.
    if (geteuid() == 0) {
        args.insert(args.end(), {"-u", "root"});
    } else {
        args.push_back("-U");
    }
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&m_pid, kPath, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        error = "posix_spawn failed";
        return false;
    }

    // Ready when it answers at all, synchronised or not; each try waits its own time-out.
    for (int attempt = 0; attempt < 50; ++attempt) {
        NtpResult result;
        const int code = GetNtpTimeEx(Ipv4().c_str(), 100, &result);
        if (code == NTP_OK || code == NTP_E_UNSYNCHRONIZED) return true;
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            std::ifstream in(log);
            std::stringstream text;
            text << in.rdbuf();
            error = "chronyd exited: " + text.str();
            return false;
        }
    }
    error = "chronyd did not answer";
    return false;
}

}  // namespace NtpTest
