// ovractl: the library's jobs from the command line. Exit status: 0 on success, the library's
// result code when an operation fails, or one of the tool's own codes (see Output.h).
#include <Ovra/ResultCodes.h>
#include "DemoCommand.h"
#include "DiskCommands.h"
#include "FormatCommands.h"
#include "HealthCommands.h"
#include "LogCommands.h"
#include "Output.h"
#include "SelfTestCommand.h"
#include "TimeCommands.h"
#include "WatchCommand.h"
#include "serve/ServeCommand.h"

#include <CLI/CLI.hpp>

#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
    ::SetConsoleOutputCP(CP_UTF8);
#endif
    CLI::App app{"ovractl: log database, disk health, inventories, formatting and time sync"};
    std::string footer = "Exit status: 0 success; on failure the library's result code:\n";
    for (const Ovra::result::CodeText& entry : Ovra::result::kCodeTexts)
        if (entry.code) footer += "  " + std::to_string(entry.code) + " " + entry.text + "\n";
    footer +=
        "or the tool's own: 64 usage, 65 bad input, 66 missing file or folder, 75 cancelled.\n"
        "health: 0 Good, 1 Warning, 2 Failing, 3 Unknown (see health --help).\n"
        "With no command, ovractl runs the demo.";
    app.footer(footer);
    app.require_subcommand(0, 1);
    int exitCode = 0;
    ovractl::AddDemoCommand(app, exitCode);
    ovractl::AddLogCommands(app, exitCode);
    ovractl::AddDiskCommands(app, exitCode);
    ovractl::AddHealthCommands(app, exitCode);
    ovractl::AddSelfTestCommand(app, exitCode);
    ovractl::AddWatchCommand(app, exitCode);
    ovractl::AddFormatCommands(app, exitCode);
    ovractl::AddTimeCommands(app, exitCode);
    ovractl::AddServeCommands(app, exitCode);
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
