#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl demo: a tour of the library that needs no setup.
void AddDemoCommand(CLI::App& app, int& exitCode);
int RunDemo(int records, bool keep);

}  // namespace ovractl
