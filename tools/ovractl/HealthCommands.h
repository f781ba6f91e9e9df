#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// Exit status of `ovractl health`, as monitoring plugins have it.
enum HealthExit { kHealthGood = 0, kHealthWarning = 1, kHealthFailing = 2, kHealthUnknown = 3 };

// ovractl health [DISK] | health history DB [--disk N] [--id ID]
void AddHealthCommands(CLI::App& app, int& exitCode);

}  // namespace ovractl
