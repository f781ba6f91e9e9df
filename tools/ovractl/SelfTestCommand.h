#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl selftest DISK --short|--extended|--conveyance|--abort [--wait [--poll S]]
void AddSelfTestCommand(CLI::App& app, int& exitCode);

}  // namespace ovractl
