#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl log import DATABASE FILE [--batch N] [--json]: the records of a JSON-lines file, written
// in transactions of N; a batch the database refuses is retried record by record.
void AddLogImportCommand(CLI::App& log, int& exitCode);

}  // namespace ovractl
