#include "LogTail.h"

#include "LogAccess.h"
#include "LogFollow.h"
#include "LogJson.h"
#include "Output.h"
#include "ValueText.h"

#include <Ovra/LogService.h>

#include <iostream>
#include <memory>

namespace ovractl {

using Ovra::LogService;

namespace {

const std::size_t kBatch = 500;
const int kPollMs = 200;

struct TailOptions {
    std::string database;
    bool json = false;
    std::string after;
    bool follow = false;
    long long since = 0, until = 0;
    bool sinceGiven = false, untilGiven = false;
    std::string where;
};

void PrintRecord(const CursorRecord& entry, bool json) {
    if (json) {
        nlohmann::json object = RecordJson(entry.record);
        object["cursor"] = Utf8(entry.cursor);
        std::cout << JsonLine(object) << '\n';
        return;
    }
    std::cout << Utf8(entry.cursor);
    for (const auto& field : entry.record)
        std::cout << "  " << Utf8(field.name) << '=' << DisplayText(field.value);
    std::cout << '\n';
}

int CmdTail(const TailOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    if (o.follow) CatchStopSignals();
    LogFollower follower(db.Service(), o.after);
    std::vector<CursorRecord> batch;
    for (;;) {
        if (int rc = follower.Next(kBatch, batch)) return Require(rc, "cannot read the records");
        for (const CursorRecord& entry : batch) PrintRecord(entry, o.json);
        std::cout.flush();
        if (batch.size() == kBatch) continue;
        if (!o.follow || !follower.WaitForChange(kPollMs, [] { return true; })) break;
    }
    if (!o.json) std::cerr << "ovractl: last cursor " << Utf8(follower.Cursor()) << '\n';
    return 0;
}

struct ExportLines : Ovra::LogSearchVisitor {
    int OnLogRecord(const std::list<LogService::FieldData>& record) override {
        std::cout << JsonLine(RecordJson(record)) << '\n';
        ++count;
        return std::cout ? 0 : 1;
    }
    unsigned long long count = 0;
};

int CmdExport(const TailOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    std::wstring clause;
    auto add = [&clause](const std::wstring& condition) {
        clause += (clause.empty() ? L"WHERE (" : L" AND (") + condition + L")";
    };
    const std::wstring time = LogService::GetTimeFieldName();
    if (o.sinceGiven) add(time + L" >= " + std::to_wstring(o.since));
    if (o.untilGiven) add(time + L" < " + std::to_wstring(o.until));
    if (!o.where.empty()) add(Wide(o.where));
    ExportLines lines;
    const int rc = db.Service().Search(clause + L" ORDER BY rowid", lines);
    std::cout.flush();
    if (rc) return Require(rc, "export failed");
    std::cerr << "ovractl: exported " << lines.count << " record(s)\n";
    return 0;
}

}  // namespace

void AddLogTailCommands(CLI::App& log, int& exitCode) {
    auto options = std::make_shared<TailOptions>();
    auto run = [&exitCode, options](int (*body)(const TailOptions&)) {
        return [&exitCode, options, body] { exitCode = body(*options); };
    };

    CLI::App* tail = log.add_subcommand("tail", "The records after a cursor, oldest first");
    tail->add_option("database", options->database, "Database file")->required();
    tail->add_flag("--json", options->json, "Print JSON lines (each with its \"cursor\")");
    tail->add_option("--after", options->after,
                     "Start after this cursor (\"end\": after the newest record; default: the "
                     "first record)");
    tail->add_flag("--follow", options->follow,
                   "Go on printing new records until SIGINT or SIGTERM");
    tail->callback(run(CmdTail));

    CLI::App* exportCommand =
        log.add_subcommand("export", "Records as JSON lines, in insertion order, for import");
    exportCommand->add_option("database", options->database, "Database file")->required();
    exportCommand->add_option("--since", options->since, "Time at or after (ms since 1970)")
        ->each([options](const std::string&) { options->sinceGiven = true; });
    exportCommand->add_option("--until", options->until, "Time before (ms since 1970)")
        ->each([options](const std::string&) { options->untilGiven = true; });
    exportCommand->add_option("--where", options->where, "An SQL condition (what follows WHERE)");
    exportCommand->callback(run(CmdExport));
}

}  // namespace ovractl
