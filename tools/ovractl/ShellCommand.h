#pragma once

// Runs a user's command line through the system's shell, for hooks such as watch --exec.

#include <string>
#include <utility>
#include <vector>

namespace ovractl {

using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs `command` with /bin/sh -c (cmd.exe /c on Windows), our environment plus `environment`,
// `input` on its standard input and our standard output and error. Waits at most `timeoutMs`,
// then kills it. True when it exited with 0; otherwise `error` says what happened.
bool RunShellCommand(const std::string& command, const Environment& environment,
                     const std::string& input, int timeoutMs, std::string& error);

}  // namespace ovractl
