#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl time query SERVER | time sync [SERVER...] [--set]
void AddTimeCommands(CLI::App& app, int& exitCode);

}  // namespace ovractl
