#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl fs | format ROOT --fs NAME ... | label ROOT NEWLABEL
void AddFormatCommands(CLI::App& app, int& exitCode);

}  // namespace ovractl
