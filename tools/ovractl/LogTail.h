#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl log tail DB [--after CURSOR] [--follow] [--json]: the records after a cursor, each with
// its cursor; --follow goes on printing what other processes insert until SIGINT or SIGTERM.
// ovractl log export DB [--since MS] [--until MS] [--where SQL]: JSON lines that import takes back.
void AddLogTailCommands(CLI::App& log, int& exitCode);

}  // namespace ovractl
