#pragma once

// A child process with pipes to its standard input and output, for tests that need a second
// process (the cross-process named mutex, crash recovery).

#include <string>
#include <vector>

namespace Ovra {
namespace testing_support {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` (a path) with `args`. False when it could not be started.
    bool Start(const std::string& program, const std::vector<std::string>& args);
    // Reads one line of the child's output (without the newline); false at end of output.
    bool ReadLine(std::string& line);
    // Closes the child's input: a child that reads to the end of its input goes on.
    void CloseInput();
    // Ends the child at once, as a crash would.
    void Kill();
    // Waits for the end; the exit code, or -1 when it did not exit normally.
    int Wait();

private:
#if defined(_WIN32)
    using Native = void*;  // HANDLE
    Native m_process = nullptr, m_input = nullptr, m_output = nullptr;
#else
    int m_pid = -1, m_input = -1, m_output = -1;
#endif
    std::string m_buffer;
};

// The path of a helper program built beside the tests ("name" plus ".exe" on Windows).
std::string HelperProgram(const std::string& name);

}  // namespace testing_support
}  // namespace Ovra
