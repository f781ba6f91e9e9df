#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl log create|index|insert|search|count|retention|import|info|text-index|tail|export|
// forward
void AddLogCommands(CLI::App& app, int& exitCode);

}  // namespace ovractl
