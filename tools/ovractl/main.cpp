// ovractl: the library's jobs from the command line. Exit status: 0 on success, the library's
// result code when an operation fails, or one of the tool's own codes (see Output.h).
#include "DemoCommand.h"
#include "DiskCommands.h"
#include "FormatCommands.h"
#include "LogCommands.h"
#include "Output.h"
#include "TimeCommands.h"

#include <CLI/CLI.hpp>

#if defined(_WIN32)
#include <windows.h>
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
    ::SetConsoleOutputCP(CP_UTF8);
#endif
    CLI::App app{"ovractl: log database, disk health, inventories, formatting and time sync"};
    app.footer(
        "Exit status: 0 success; the library's result code on failure (1 SQLite, 102 out of "
        "memory,\n"
        "104 nothing given, 105 system call failed, 116 exists, 120 already open, 121 not found,\n"
        "122 prerequisite missing, 127 no SMART, 136 format in progress); 64 usage, 65 bad input,\n"
        "66 missing file or folder, 75 cancelled. With no command, ovractl runs the demo.");
    app.require_subcommand(0, 1);
    int exitCode = 0;
    ovractl::AddDemoCommand(app, exitCode);
    ovractl::AddLogCommands(app, exitCode);
    ovractl::AddDiskCommands(app, exitCode);
    ovractl::AddFormatCommands(app, exitCode);
    ovractl::AddTimeCommands(app, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return ovractl::kUsage;
    }
    if (app.get_subcommands().empty()) return ovractl::RunDemo(5000, false);
    return exitCode;
}
