#include "tests/support/ChronyServer.h"

#include <ntp/Ntp.h>

#include <unistd.h>

#include <fstream>
#include <random>
#include <vector>

namespace NtpTest {

bool ChronyServer::Start(bool synchronised, std::string& error) {
    const std::string chronyd = "/usr/sbin/chronyd";
    if (access(chronyd.c_str(), X_OK) != 0) return error = chronyd + " is not installed", false;
    const std::string conf = m_folder.Path("chrony.conf").string();
    // -x: never touch the clock; -L 2: errors only. As root it would drop to a user that cannot
    // remove its pidfile.
    std::vector<std::string> args = {"-x", "-d", "-L", "2", "-f", conf, geteuid() ? "-U" : "-u"};
    if (geteuid() == 0) args.push_back("root");
    // A port found taken makes chronyd exit, and it never answers: try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = std::random_device()() % 20000 + 12000;
        std::ofstream(conf) << "port " << m_port << "\nbindaddress 127.0.0.1\nbindaddress ::1\n"
                            << "allow 127.0.0.1\nallow ::1\ncmdport 0\nbindcmdaddress /\n"
                            << "pidfile " << m_folder.Path("chronyd.pid").string() << "\n"
                            << (synchronised ? "local stratum 8\n" : "");
        if (!m_chronyd.Start(chronyd, args)) return error = "chronyd cannot be started", false;
        // It answers about 12 ms after its start; each try waits its own time-out.
        for (int probe = 0; probe < 30; ++probe) {
            NtpResult result;
            const int code = GetNtpTimeEx(Ipv4().c_str(), 100, &result);
            if (code == NTP_OK || code == NTP_E_UNSYNCHRONIZED) return true;
        }
        m_chronyd.Kill();
        m_chronyd.Wait();
    }
    return error = "chronyd did not answer", false;
}

}  // namespace NtpTest
