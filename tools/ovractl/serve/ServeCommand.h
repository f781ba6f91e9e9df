#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl serve [--listen ADDR:PORT] [--log DB]... [--interval SECONDS] [--selftest SCHEDULE]
//               [--health-log DB] [--time-server SERVER]
// ovractl metrics [--textfile DIR] [--log DB]... [--time-server SERVER]
void AddServeCommands(CLI::App& app, int& exitCode);

}  // namespace ovractl
