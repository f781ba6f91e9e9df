#pragma once

#include <CLI/CLI.hpp>

namespace ovractl {

// ovractl disks | volumes | smart [DISK] [--watch SECONDS [--log DB [--retention MINUTES]]]
void AddDiskCommands(CLI::App& app, int& exitCode);

// Shared with the demo: print the inventories; nonzero when the platform reported nothing.
int ShowDisks(bool json);
int ShowVolumes(bool json);

}  // namespace ovractl
