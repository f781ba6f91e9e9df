#include "LogImport.h"

#include "LogAccess.h"
#include "LogJson.h"
#include "Output.h"
#include "ValueText.h"

#include <Ovra/LogService.h>
#include <Ovra/ResultCodes.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <list>
#include <memory>
#include <vector>

namespace ovractl {

using Ovra::LogService;
using Ovra::LogVariant;

namespace {

struct ImportOptions {
    std::string database;
    bool json = false;
    std::string file;
    unsigned int batch = 500;
};

// One line of an import file turned into a record; false (with the reason) when it is unusable.
bool RecordFromLine(const std::string& line, const ColumnTypes& types, LogService::Record& record,
                    std::string& reason) {
    nlohmann::json object;
    try {
        object = nlohmann::json::parse(line);
    } catch (const nlohmann::json::exception&) {
        reason = "not JSON";
        return false;
    }
    return RecordFromJson(object, types, record, reason);
}

int ImportJsonLines(const ImportOptions& o) {
    std::ifstream in(o.file, std::ios::binary);
    if (!in) return Fail("no such file", o.file, kNoInput);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0);
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;

    struct Pending {
        LogService::Record record;
        long long line;
    };
    std::vector<Pending> batch;
    std::list<LogService::Record> records;
    long long lineNumber = 0, stored = 0, skipped = 0;
    ProgressBar bar("importing");
    const auto start = std::chrono::steady_clock::now();
    auto flush = [&]() -> int {
        if (batch.empty()) return 0;
        records.clear();
        for (const Pending& p : batch) records.push_back(p.record);
        int rc = db.Service().Insert(records);
        if (rc == Ovra::result::kOk) {
            stored += static_cast<long long>(batch.size());
        } else if (rc == Ovra::result::kFailed) {
            // The batch stored nothing; find the lines the database refuses, one by one.
            for (const Pending& p : batch) {
                const int one = db.Service().Insert(p.record.time, p.record.data);
                if (one == Ovra::result::kOk) {
                    ++stored;
                } else {
                    ++skipped;
                    bar.Interrupt();
                    std::cerr << "ovractl: line " << p.line << ": refused by the database (code "
                              << one << ")\n";
                }
            }
        } else {
            return Require(rc, "import failed");
        }
        batch.clear();
        return 0;
    };
    std::string line;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        Pending pending{{}, lineNumber};
        std::string reason;
        if (!RecordFromLine(line, db.Types(), pending.record, reason)) {
            ++skipped;
            bar.Interrupt();
            std::cerr << "ovractl: line " << lineNumber << ": " << reason << ", skipped\n";
            continue;
        }
        batch.push_back(std::move(pending));
        if (batch.size() >= o.batch) {
            if (int rc = flush()) return rc;
            if (size > 0)
                bar.Show(static_cast<unsigned int>(100.0 * static_cast<double>(in.tellg()) /
                                                   static_cast<double>(size)));
        }
    }
    if (int rc = flush()) return rc;
    bar.Show(100);
    bar.Finish("");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double rate = seconds > 0 ? static_cast<double>(stored) / seconds : 0;
    if (o.json) {
        std::cout << nlohmann::json{{"records", stored},
                                    {"skipped", skipped},
                                    {"seconds", seconds},
                                    {"recordsPerSecond", rate}}
                         .dump()
                  << '\n';
    } else {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.2f", seconds);
        std::cout << "imported " << stored << " records in " << elapsed << " s ("
                  << static_cast<long long>(rate) << " records/s); " << skipped
                  << " line(s) skipped\n";
    }
    return 0;
}

}  // namespace

void AddLogImportCommand(CLI::App& log, int& exitCode) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* importCommand =
        log.add_subcommand("import", "Insert the records of a JSON-lines file");
    importCommand->add_option("database", options->database, "Database file")->required();
    importCommand->add_flag("--json", options->json, "Print JSON lines");
    importCommand
        ->add_option("file", options->file,
                     "One object per line: \"time\" (ms since 1970, default now) and column values")
        ->required();
    importCommand->add_option("--batch", options->batch, "Records per transaction")
        ->check(CLI::Range(1u, 100000u));
    importCommand->callback([&exitCode, options] { exitCode = ImportJsonLines(*options); });
}

}  // namespace ovractl
