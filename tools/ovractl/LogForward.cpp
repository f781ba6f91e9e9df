#include "LogForward.h"

#include "LogAccess.h"
#include "LogFollow.h"
#include "LogSyslog.h"
#include "Output.h"

#include <Ovra/LogService.h>

#include <boost/asio.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace ovractl {

namespace {

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;

const std::size_t kBatch = 200;
const int kPollMs = 100;
// A record counts as delivered once the connection has stayed up this long after it was sent.
const auto kSettle = std::chrono::seconds(2);
const auto kCheckpointEvery = std::chrono::seconds(1);
const double kFirstBackoff = 0.5, kLastBackoff = 30;
const int kCloseWaitMs = 2000;

struct ForwardOptions {
    std::string database;
    std::string to;
    std::string after;
    bool follow = false;
    std::string state;
    std::string msgColumn;
};

// tcp://HOST:PORT or udp://HOST:PORT, HOST possibly [v6].
bool ParseTarget(const std::string& url, bool& tcp, std::string& host, std::string& port) {
    const std::string::size_type scheme = url.find("://");
    if (scheme == std::string::npos) return false;
    const std::string kind = url.substr(0, scheme), rest = url.substr(scheme + 3);
    tcp = kind == "tcp";
    const std::string::size_type colon = rest.rfind(':');
    if ((kind != "tcp" && kind != "udp") || colon == std::string::npos || colon == 0) return false;
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
}

// One connection to the syslog server. TCP frames each message by octet counting.
class Transport {
public:
    Transport(bool tcp, std::string host, std::string port)
        : m_tcp(tcp),
          m_host(std::move(host)),
          m_port(std::move(port)),
          m_stream(m_io),
          m_datagram(m_io) {}

    bool Connect(std::string& error) {
        Close();
        boost::system::error_code ec;
        if (m_tcp) {
            asio::ip::tcp::resolver resolver(m_io);
            const auto endpoints = resolver.resolve(m_host, m_port, ec);
            if (!ec) asio::connect(m_stream, endpoints, ec);
        } else {
            asio::ip::udp::resolver resolver(m_io);
            const auto endpoints = resolver.resolve(m_host, m_port, ec);
            if (!ec) asio::connect(m_datagram, endpoints, ec);
        }
        if (ec) {
            error = ec.message();
            Close();
        }
        return !ec;
    }

    bool Send(const std::string& message, std::string& error) {
        boost::system::error_code ec;
        if (m_tcp) {
            asio::write(m_stream, asio::buffer(OctetCounted(message)), ec);
        } else {
            m_datagram.send(asio::buffer(message), 0, ec);
            // The refusal of an earlier datagram that found no listener, reported instead of
            // sending this one: UDP promises nothing for that one, this one goes again.
            if (ec == asio::error::connection_refused)
                m_datagram.send(asio::buffer(message), 0, ec);
        }
        if (ec) error = ec.message();
        return !ec;
    }

    // The server never writes: a TCP socket with something to read has been closed or reset.
    bool Alive() {
        if (!m_tcp) return true;
        return ReadNothing() == asio::error::would_block;
    }

    // Sends our end of the stream and waits for the server's: once it closes, it has read every
    // byte we sent. False when it does not within `ms`, or for UDP.
    bool CloseConfirmed(int ms) {
        boost::system::error_code ec;
        if (!m_tcp || m_stream.shutdown(asio::ip::tcp::socket::shutdown_send, ec)) return false;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            ec = ReadNothing();
            if (ec == asio::error::eof) return true;
            if (ec != asio::error::would_block) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void Close() {
        boost::system::error_code ignored;
        m_stream.close(ignored);
        m_datagram.close(ignored);
    }

    bool Tcp() const { return m_tcp; }

private:
    boost::system::error_code ReadNothing() {
        boost::system::error_code ec, ignored;
        char byte = 0;
        m_stream.non_blocking(true, ignored);
        m_stream.read_some(asio::buffer(&byte, 1), ec);
        m_stream.non_blocking(false, ignored);
        return ec;
    }

    bool m_tcp;
    std::string m_host, m_port;
    asio::io_context m_io;
    asio::ip::tcp::socket m_stream;
    asio::ip::udp::socket m_datagram;
};

std::string ReadState(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string cursor;
    std::getline(in, cursor);
    return cursor;
}

// Temp file and rename: a reader sees the old cursor or the new one, never part of either.
bool WriteState(const std::string& path, const std::wstring& cursor) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << Utf8(cursor) << '\n';
        if (!out.flush()) return false;
    }
#if defined(_WIN32)
    return ::MoveFileExW(Wide(temp).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(temp.c_str(), path.c_str()) == 0;
#endif
}

std::string ProcessId() {
#if defined(_WIN32)
    return std::to_string(::GetCurrentProcessId());
#else
    return std::to_string(::getpid());
#endif
}

std::string HostName() {
    boost::system::error_code ec;
    std::string name = asio::ip::host_name(ec);
    std::string out;
    for (char c : name)
        if (c > 32 && c < 127) out += c;
    return out.substr(0, 255);
}

class Forwarder {
public:
    Forwarder(const ForwardOptions& o, Ovra::LogService& log, Transport& transport)
        : m_o(o),
          m_log(log),
          m_transport(transport),
          m_header{HostName(), ProcessId(), o.msgColumn} {}

    int Run(std::wstring start) {
        m_safe = m_written = start;
        while (!StopRequested()) {
            if (!m_connected) {
                std::string error;
                if (!m_transport.Connect(error)) {
                    std::cerr << "ovractl: cannot reach " << m_o.to << ": " << error << '\n';
                    Back();
                    continue;
                }
                m_connected = true;
                m_reader.reset(new LogFollower(m_log, Utf8(m_safe)));
            }
            std::vector<CursorRecord> batch;
            if (int rc = m_reader->Next(kBatch, batch))
                return Require(rc, "cannot read the records");
            for (const CursorRecord& entry : batch) {
                std::string error;
                if (!m_transport.Send(SyslogMessage(entry.record, entry.cursor, m_header), error)) {
                    Lost(error);
                    break;
                }
                ++m_sent;
                m_pending.push_back({entry.cursor, Clock::now()});
            }
            if (!m_connected || !Settle()) continue;
            if (batch.size() == kBatch) continue;
            if (!m_o.follow) {
                if (Finish()) break;
                continue;
            }
            m_reader->WaitForChange(kPollMs, [this] { return Settle(); });
        }
        if (m_connected) Finish();
        Checkpoint(true);
        std::cerr << "ovractl: sent " << m_sent << " record(s), " << m_again
                  << " of them again after a lost connection; delivered up to " << Utf8(m_safe)
                  << '\n';
        return 0;
    }

private:
    struct Pending {
        std::wstring cursor;
        Clock::time_point sent;
    };

    void Lost(const std::string& why) {
        std::cerr << "ovractl: connection to " << m_o.to << " lost (" << why << "); "
                  << m_pending.size()
                  << " record(s) not known to be delivered will be sent again\n";
        m_again += m_pending.size();
        m_pending.clear();
        m_transport.Close();
        m_connected = false;
        Back();
    }

    // Waits before the next attempt, twice as long as before; a delivery starts again at the
    // shortest wait.
    void Back() {
        std::cerr << "ovractl: trying again in " << m_backoff << " s\n";
        Pause(static_cast<int>(m_backoff * 1000));
        m_backoff = std::min(m_backoff * 2, kLastBackoff);
    }

    // Moves what has been out long enough on a live connection to the safe cursor; false when the
    // connection is found dead.
    bool Settle() {
        if (!m_transport.Alive()) {
            Lost("closed by the server");
            return false;
        }
        const auto now = Clock::now();
        while (!m_pending.empty() &&
               (!m_transport.Tcp() || now - m_pending.front().sent >= kSettle)) {
            m_safe = m_pending.front().cursor;
            m_pending.pop_front();
            m_backoff = kFirstBackoff;
        }
        Checkpoint(false);
        return true;
    }

    // Everything sent is confirmed by closing the connection.
    bool Finish() {
        if (!m_pending.empty() && m_transport.Tcp() && !m_transport.CloseConfirmed(kCloseWaitMs)) {
            Lost("no confirmation when closing");
            return false;
        }
        if (!m_pending.empty()) m_safe = m_pending.back().cursor;
        m_pending.clear();
        m_transport.Close();
        m_connected = false;
        return true;
    }

    void Checkpoint(bool now) {
        if (m_o.state.empty() || m_safe == m_written) return;
        if (!now && Clock::now() - m_lastWrite < kCheckpointEvery) return;
        if (WriteState(m_o.state, m_safe)) {
            m_written = m_safe;
        } else {
            std::cerr << "ovractl: cannot write the state file " << m_o.state << '\n';
        }
        m_lastWrite = Clock::now();
    }

    const ForwardOptions& m_o;
    Ovra::LogService& m_log;
    Transport& m_transport;
    SyslogHeader m_header;
    std::unique_ptr<LogFollower> m_reader;
    std::deque<Pending> m_pending;
    std::wstring m_safe, m_written;
    Clock::time_point m_lastWrite{};
    bool m_connected = false;
    double m_backoff = kFirstBackoff;
    unsigned long long m_sent = 0, m_again = 0;
};

int CmdForward(const ForwardOptions& o) {
    bool tcp = true;
    std::string host, port;
    if (!ParseTarget(o.to, tcp, host, port))
        return Fail("bad target", "'" + o.to + "' (tcp://HOST:PORT or udp://HOST:PORT)", kUsage);
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    std::wstring start = Wide(o.after);
    const std::string saved = o.state.empty() ? std::string() : ReadState(o.state);
    if (!saved.empty()) {
        start = Wide(saved);
    } else if (o.after == "end") {
        if (int rc = db.Service().GetCursorAtEnd(start)) return Require(rc, "cannot read the log");
    }
    CatchStopSignals();
#if !defined(_WIN32)
    std::signal(SIGPIPE, SIG_IGN);  // a server that went away is an error code, not a signal
#endif
    Transport transport(tcp, host, port);
    return Forwarder(o, db.Service(), transport).Run(start);
}

}  // namespace

void AddLogForwardCommand(CLI::App& log, int& exitCode) {
    auto options = std::make_shared<ForwardOptions>();
    CLI::App* forward =
        log.add_subcommand("forward", "Send the records to a syslog server (RFC 5424)");
    forward->add_option("database", options->database, "Database file")->required();
    forward->add_option("--to", options->to, "tcp://HOST:PORT or udp://HOST:PORT")->required();
    forward->add_option("--after", options->after,
                        "Start after this cursor (\"end\": after the newest record; default: the "
                        "first record); a state file overrides it");
    forward->add_flag("--follow", options->follow,
                      "Go on sending new records until SIGINT/SIGTERM");
    forward->add_option("--state", options->state,
                        "File keeping the cursor known to be delivered; resumed from");
    forward->add_option("--msg", options->msgColumn,
                        "Column sent as the message text (default: every column as Name=value)");
    forward->callback([&exitCode, options] { exitCode = CmdForward(*options); });
}

}  // namespace ovractl
