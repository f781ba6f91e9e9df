#include "tests/support/ChronyServer.h"

#include <ntp/Ntp.h>

#include <unistd.h>

#include <fstream>
#include <random>
#include <vector>

namespace NtpTest {

bool ChronyServer::Start(bool synchronised, std::string& error) {
    const std::string chronyd = "/usr/sbin/chronyd";
    if (access(chronyd.c_str(), X_OK) != 0) {
        error = chronyd + " is not installed";
        return false;
    }
    const std::string conf = m_folder.Path("chrony.conf").string();
    // As root it would drop to a user that cannot remove its pidfile. -x: never touch the clock;
    // -L 2: errors only.
    std::vector<std::string> args = {"-x", "-d", "-L", "2", "-f", conf};
    if (geteuid() == 0) {
        args.insert(args.end(), {"-u", "root"});
    } else {
        args.push_back("-U");
    }
    // A port found taken makes chronyd exit, and it never answers: try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = std::random_device()() % 20000 + 12000;
        std::ofstream(conf) << "port " << m_port << "\nbindaddress 127.0.0.1\nbindaddress ::1\n"
                            << "allow 127.0.0.1\nallow ::1\ncmdport 0\nbindcmdaddress /\n"
                            << "pidfile " << m_folder.Path("chronyd.pid").string() << "\n"
                            << (synchronised ? "local stratum 8\n" : "");
        if (!m_chronyd.Start(chronyd, args)) {
            error = "chronyd cannot be started";
            return false;
        }
        // It answers about 12 ms after its start; each try waits its own time-out.
        for (int probe = 0; probe < 30; ++probe) {
            NtpResult result;
            const int code = GetNtpTimeEx(Ipv4().c_str(), 100, &result);
            if (code == NTP_OK || code == NTP_E_UNSYNCHRONIZED) return true;
        }
        m_chronyd.Kill();
        m_chronyd.Wait();
    }
    error = "chronyd did not answer";
    return false;
}

}  // namespace NtpTest
