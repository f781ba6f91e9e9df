#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl watch [DISK...] [--interval S] [--cycles N] [--selftest SCHEDULE] [--temperature W,C]
// [--log DB] [--exec CMD] [--json] [--test-event]
void AddWatchCommand(CLI::App& app, int& exitCode);

}  // namespace ovractl
