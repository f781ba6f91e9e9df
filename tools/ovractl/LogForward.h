#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl log forward DB --to tcp://HOST:PORT|udp://HOST:PORT [--after CURSOR] [--follow]
// [--state FILE] [--msg COLUMN]: each record as an RFC 5424 message, at least once over TCP.
void AddLogForwardCommand(CLI::App& log, int& exitCode);

}  // namespace ovractl
