#include "DemoCommand.h"

#include "DiskCommands.h"
#include "LogAccess.h"
#include "Output.h"
#include "ValueText.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/HddSmartInfo.h>
#include <Ovra/ResultCodes.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>

namespace ovractl {

using Ovra::LogService;
using Ovra::LogVariant;

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, seconds < 0.1 ? "%.1f ms" : "%.2f s",
                  seconds < 0.1 ? seconds * 1000 : seconds);
    return text;
}

const wchar_t* const kEvents[] = {L"motion",     L"line crossing", L"tamper",
                                  L"video loss", L"face detected", L"disk warning"};

int Check(int rc, const std::string& what) {
    return rc == Ovra::result::kOk ? kOk : Fail(what, LibraryCodeText(rc), rc);
}

}  // namespace

int RunDemo(int records, bool keep) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder =
        fs::temp_directory_path(error) / ("ovractl-demo-" + std::to_string(Ovra::GetCurTime()));
    if (error || !fs::create_directories(folder, error))
        return Fail("cannot make a temporary folder", error.message(), kNoInput);
    const fs::path file = folder / "events.db";
    std::cout << "== Log database: " << file.u8string() << "\n";

    int rc = 0;
    {
        InspectableLog log;
        if ((rc = Check(log.Open(file.wstring()), "cannot open the database"))) return rc;
        const std::list<LogService::Field> fields = {{L"Camera", LogVariant::Int32, 0},
                                                     {L"Event", LogVariant::Text, 2},
                                                     {L"Severity", LogVariant::Int8, 0},
                                                     {L"Score", LogVariant::Float, 0},
                                                     {L"Detail", LogVariant::Text, 0}};
        if ((rc = Check(log.Create(fields), "cannot create the table"))) return rc;
        if ((rc = Check(log.CreateIndex(fields), "cannot create the indexes"))) return rc;
        std::cout
            << "table Ovra_Log: Time INT64, Camera INT, Event TEXT not null, Severity TINYINT, "
               "Score FLOAT, Detail TEXT; indexed\n";

        // Events spread over the last two hours, one camera in sixteen, fixed seed: the same
        // tour every time.
        std::mt19937 random(7);
        const long long now = Ovra::GetCurTime();
        auto start = std::chrono::steady_clock::now();
        std::list<LogService::Record> batch;
        for (int i = 0; i < records; ++i) {
            const int camera = static_cast<int>(random() % 16) + 1;
            const wchar_t* event = kEvents[random() % 6];
            LogService::Record record;
            record.data = {{L"Camera", LogVariant(camera)},
                           {L"Event", LogVariant(event)},
                           {L"Severity", LogVariant(static_cast<signed char>(random() % 5))},
                           {L"Score", LogVariant(static_cast<float>(random() % 1000) / 10.0f)},
                           {L"Detail", LogVariant(L"zone '" + std::to_wstring(random() % 4) +
                                                  L"', 100% sure")}};
            record.time = now - static_cast<long long>(random() % 7200000);
            batch.push_back(std::move(record));
            if (batch.size() == 500 || i + 1 == records) {
                if ((rc = Check(log.Insert(batch), "cannot insert"))) return rc;
                batch.clear();
            }
        }
        const double seconds = SecondsSince(start);
        std::cout << "inserted " << records << " events in " << Seconds(seconds) << " ("
                  << static_cast<long long>(records / seconds)
                  << " per second, 500 to a transaction)\n";
        // One more, alone in its transaction, as a host logs a single event.
        start = std::chrono::steady_clock::now();
        if ((rc = Check(log.Insert(now, {{L"Camera", LogVariant(1)},
                                         {L"Event", LogVariant(L"demo done")}}),
                        "cannot insert")))
            return rc;
        std::cout << "one more event on its own: " << Seconds(SecondsSince(start)) << "\n";

        std::map<std::wstring, LogService::SearchQuery> conditions;
        LogService::SearchQuery camera;
        camera.value = LogVariant(3);
        conditions[L"Camera"] = camera;
        LogService::SearchQuery motion;
        motion.compare = 1;
        motion.value = LogVariant(L"motion");
        conditions[L"Event"] = motion;
        std::list<std::list<LogService::FieldData>> rows;
        start = std::chrono::steady_clock::now();
        if ((rc = Check(log.Search(conditions, rows), "search failed"))) return rc;
        std::cout << "search Camera = 3 AND Event LIKE motion: " << rows.size() << " events in "
                  << Seconds(SecondsSince(start)) << "; the first five:\n";
        Table table({"Time", "Camera", "Event", "Severity", "Score", "Detail"});
        int shown = 0;
        for (const auto& row : rows) {
            if (shown++ == 5) break;
            std::vector<std::string> cells(6);
            for (const auto& field : row) {
                static const wchar_t* const kOrder[] = {L"Time",     L"Camera", L"Event",
                                                        L"Severity", L"Score",  L"Detail"};
                for (int c = 0; c < 6; ++c) {
                    if (field.name == kOrder[c]) cells[c] = DisplayText(field.value);
                }
            }
            table.Add(cells);
        }
        table.Print(false);

        unsigned long long total = 0, severe = 0;
        if ((rc = Check(log.GetRecordCount(L"", total), "count failed"))) return rc;
        if ((rc = Check(log.GetRecordCount(L"where Severity >= 3", severe), "count failed")))
            return rc;
        std::cout << "count: " << total << " events, " << severe << " with severity 3 or more\n";

        log.SetRetentionTime(60);
        log.RunRetentionPass();
        unsigned long long remaining = 0;
        if ((rc = Check(log.GetRecordCount(L"", remaining), "count failed"))) return rc;
        std::cout << "retention pass (60 minutes): deleted " << (total - remaining) << ", "
                  << remaining << " remain\n";
        log.Close();
    }
    if (keep) {
        std::cout << "kept " << file.u8string() << "\n";
    } else {
        fs::remove_all(folder, error);
    }

    std::cout << "\n== Physical disks\n";
    if (ShowDisks(false) != 0)
        std::cout << "none readable: no \\\\.\\PHYSICALDRIVEn device answered (this platform has "
                     "none, or access was refused)\n";
    std::cout << "\n== Volumes\n";
    if (ShowVolumes(false) != 0) std::cout << "none: no volume answered the volume queries\n";
    std::cout << "\n== SMART, disk 0\n";
    Ovra::HddSmartInfo smart;
    std::map<unsigned char, Ovra::HddSmartAttr> attrs;
    const int smartRc = smart.GetNowSmartAttr(0, attrs);
    if (smartRc == Ovra::result::kOk) {
        std::cout << attrs.size() << " attributes read; see 'ovractl smart 0'\n";
    } else {
        std::cout << "not readable (" << smartRc << ": "
                  << (smartRc == Ovra::result::kNotFound  ? "the disk device cannot be opened here"
                      : smartRc == Ovra::result::kNoSmart ? "the driver does not offer SMART"
                                                          : LibraryCodeText(smartRc))
                  << ")\n";
    }
    return 0;
}

void AddDemoCommand(CLI::App& app, int& exitCode) {
    auto records = std::make_shared<int>(5000);
    auto keep = std::make_shared<bool>(false);
    CLI::App* demo =
        app.add_subcommand("demo", "A tour: log database, inventories, SMART (the default)");
    demo->add_option("--records", *records, "Events to insert")->check(CLI::Range(1, 10000000));
    demo->add_flag("--keep", *keep, "Keep the database file");
    demo->callback([&exitCode, records, keep] { exitCode = RunDemo(*records, *keep); });
}

}  // namespace ovractl
