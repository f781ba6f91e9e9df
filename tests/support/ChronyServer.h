#pragma once

// chronyd as a real NTP server on loopback, a child of the test (Linux only).

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace NtpTest {

class ChronyServer {
public:
    static constexpr const char* kPath = "/usr/sbin/chronyd";

    ChronyServer() = default;
    ~ChronyServer();
    ChronyServer(const ChronyServer&) = delete;
    ChronyServer& operator=(const ChronyServer&) = delete;

    // Serves 127.0.0.1 and ::1 on a free port from a fresh folder and returns once it answers.
    // `synchronised` serves this machine's clock at stratum 8; without it chronyd answers as an
    // unsynchronised server. On failure `error` says why.
    bool Start(bool synchronised, std::string& error);

    std::wstring Ipv4() const { return L"127.0.0.1:" + std::to_wstring(m_port); }
    std::wstring Ipv6() const { return L"[::1]:" + std::to_wstring(m_port); }

private:
    bool Spawn(bool synchronised, std::string& error);
    void Stop();

    std::string m_folder;
    std::uint16_t m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace NtpTest
