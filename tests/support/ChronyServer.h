#pragma once

// chronyd as a real NTP server on loopback, a child of the test (Linux only).

#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDir.h"

#include <string>

namespace NtpTest {

class ChronyServer {
public:
    // Serves 127.0.0.1 and ::1 on a free port and returns once it answers. `synchronised` serves
    // this machine's clock at stratum 8; without it chronyd answers as an unsynchronised server.
    // On failure `error` says why.
    bool Start(bool synchronised, std::string& error);

    std::wstring Ipv4() const { return L"127.0.0.1:" + std::to_wstring(m_port); }
    std::wstring Ipv6() const { return L"[::1]:" + std::to_wstring(m_port); }

private:
    Ovra::testing_support::ScratchDir m_folder{"ovra-chrony"};
    Ovra::testing_support::ChildProcess m_chronyd;
    unsigned m_port = 0;
};

}  // namespace NtpTest
