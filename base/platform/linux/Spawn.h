#pragma once

// Runs the system's file-system tools (mkfs.*, *label, mount helpers) without a shell.

#include <functional>
#include <string>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

// The path of an installed program, looked up in the system folders first (a root tool such as
// mkfs.ext4 lives in /usr/sbin, which a user's PATH may lack), then in PATH; empty when absent.
std::string FindProgram(const std::string& name);

// Receives the program's output as it comes; returning false ends the program.
using OutputSink = std::function<bool(const std::string& chunk)>;

// Runs argv[0] (a name or a path) with standard input from /dev/null and waits for its end.
// With a sink, standard output and error go to it; without, they are dropped (a daemonising mount
// helper would otherwise hold our pipe open). The exit status, or -1 when it could not be started
// or did not exit normally.
int RunProgram(const std::vector<std::string>& argv, const OutputSink& sink = nullptr);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
