#include "LogCommands.h"

#include "LogAccess.h"
#include "LogForward.h"
#include "LogImport.h"
#include "LogJson.h"
#include "LogTail.h"
#include "Output.h"
#include "ValueText.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/LogService.h>
#include <Ovra/ResultCodes.h>

#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <set>

namespace ovractl {

using Ovra::LogService;
using Ovra::LogVariant;

namespace {

const int kBadQuery = Ovra::result::kBadArgument;

// The records of a streaming text search, kept as the list searches fill.
struct RecordList : Ovra::LogSearchVisitor {
    explicit RecordList(std::list<std::list<LogService::FieldData>>& rows) : rows(rows) {}
    int OnLogRecord(const std::list<LogService::FieldData>& record) override {
        rows.push_back(record);
        return 0;
    }
    std::list<std::list<LogService::FieldData>>& rows;
};

struct LogOptions {
    std::string database;
    bool json = false;
    // create / index
    std::vector<std::string> fields;
    // insert
    std::vector<std::string> values;
    long long time = 0;
    bool timeGiven = false;
    // search / count
    std::vector<std::string> eq, like, between;
    bool orJoin = false;
    std::string where;
    std::string text;  // a full-text query
    // retention
    unsigned long long minutes = 0;
    bool minutesGiven = false;
    bool run = false;
    unsigned int batchSize = 0;
    unsigned long long maxBytes = 0;
    bool reclaim = false;
};

// Declarations "Name:TYPE[:unique|:notnull]".
int ParseFields(const std::vector<std::string>& declarations,
                std::list<LogService::Field>& fields) {
    for (const std::string& declaration : declarations) {
        std::vector<std::string> parts;
        std::string::size_type start = 0, colon;
        while ((colon = declaration.find(':', start)) != std::string::npos) {
            parts.push_back(declaration.substr(start, colon - start));
            start = colon + 1;
        }
        parts.push_back(declaration.substr(start));
        if (parts.size() < 2 || parts.size() > 3 || parts[0].empty())
            return Fail("bad field", "'" + declaration + "' (expected Name:TYPE[:unique|:notnull])",
                        kBadInput);
        LogService::Field field;
        field.name = Wide(parts[0]);
        field.type = TypeFromName(parts[1]);
        if (field.type == LogVariant::None)
            return Fail("bad field type", "'" + parts[1] + "' (" + TypeNames() + ")", kBadInput);
        if (parts.size() == 3) {
            if (parts[2] == "unique") {
                field.constraint = 1;
            } else if (parts[2] == "notnull") {
                field.constraint = 2;
            } else {
                return Fail("bad constraint", "'" + parts[2] + "' (unique or notnull)", kBadInput);
            }
        }
        fields.push_back(field);
    }
    return 0;
}

// Splits "Name=value" (or "Name=lo..hi" with `range`).
bool SplitAssignment(const std::string& text, std::string& name, std::string& value) {
    const std::string::size_type equals = text.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    name = text.substr(0, equals);
    value = text.substr(equals + 1);
    return true;
}

int TypedValue(const ColumnTypes& types, const std::string& column, const std::string& text,
               LogVariant& value) {
    auto it = types.find(Wide(column));
    if (it == types.end()) return Fail("unknown column", "'" + column + "'", kBadInput);
    if (!ParseValue(it->second, text, value))
        return Fail("malformed value",
                    "'" + text + "' for " + column + " (" +
                        Utf8(LogVariant::GetTypeString(it->second)) + ")",
                    kBadInput);
    return 0;
}

int CmdCreate(const LogOptions& o) {
    std::list<LogService::Field> fields;
    if (int rc = ParseFields(o.fields, fields)) return rc;
    LogDatabase db;
    if (int rc = db.Open(o.database, true)) return rc;
    return Require(db.Service().Create(fields), "cannot create the table");
}

int CmdIndex(const LogOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    std::list<LogService::Field> fields;
    for (const std::string& name : o.fields) {
        if (!db.Types().count(Wide(name)))
            return Fail("unknown column", "'" + name + "'", kBadInput);
        fields.push_back({Wide(name), db.Types().at(Wide(name)), 0});
    }
    if (fields.empty()) {
        for (const auto& column : db.Types()) {
            if (column.first != LogService::GetTimeFieldName())
                fields.push_back({column.first, column.second, 0});
        }
    }
    return Require(db.Service().CreateIndex(fields), "cannot create the indexes");
}

int CmdInsert(const LogOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    std::list<LogService::FieldData> data;
    for (const std::string& assignment : o.values) {
        std::string name, text;
        if (!SplitAssignment(assignment, name, text))
            return Fail("bad value", "'" + assignment + "' (expected Name=value)", kBadInput);
        LogVariant value;
        if (int rc = TypedValue(db.Types(), name, text, value)) return rc;
        data.push_back({Wide(name), value});
    }
    const long long time = o.timeGiven ? o.time : Ovra::GetCurTime();
    return Require(db.Service().Insert(time, data), "cannot insert");
}

// The condition map of --eq/--like/--between, or the --where clause.
int BuildQuery(const LogOptions& o, const ColumnTypes& types,
               std::map<std::wstring, LogService::SearchQuery>& conditions) {
    auto add = [&](const std::string& text, int compare) {
        std::string name, value;
        if (!SplitAssignment(text, name, value))
            return Fail("bad condition", "'" + text + "' (expected Name=value)", kBadInput);
        LogService::SearchQuery query;
        query.relation = o.orJoin ? 1 : 0;
        query.compare = compare;
        if (compare == 2) {
            const std::string::size_type dots = value.find("..");
            if (dots == std::string::npos)
                return Fail("bad range", "'" + text + "' (expected Name=low..high)", kBadInput);
            if (int rc = TypedValue(types, name, value.substr(0, dots), query.value)) return rc;
            if (int rc = TypedValue(types, name, value.substr(dots + 2), query.upperValue))
                return rc;
        } else if (compare == 1) {
            if (!types.count(Wide(name)))
                return Fail("unknown column", "'" + name + "'", kBadInput);
            query.value = LogVariant(Wide(value));  // a pattern is text whatever the column
        } else if (int rc = TypedValue(types, name, value, query.value)) {
            return rc;
        }
        if (!conditions.emplace(Wide(name), query).second)
            return Fail("one condition per column", "'" + name + "'", kUsage);
        return 0;
    };
    for (const auto& text : o.eq)
        if (int rc = add(text, 0)) return rc;
    for (const auto& text : o.like)
        if (int rc = add(text, 1)) return rc;
    for (const auto& text : o.between)
        if (int rc = add(text, 2)) return rc;
    if (!conditions.empty() && !o.where.empty())
        return Fail("conflicting options", "--where cannot be combined with --eq/--like/--between",
                    kUsage);
    return 0;
}

int CmdSearch(const LogOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    std::map<std::wstring, LogService::SearchQuery> conditions;
    if (int rc = BuildQuery(o, db.Types(), conditions)) return rc;
    std::list<std::list<LogService::FieldData>> rows;
    if (!o.text.empty() && (!conditions.empty() || !o.where.empty()))
        return Fail("conflicting options", "--text stands alone", kUsage);
    RecordList found(rows);
    const int rc = !o.text.empty()      ? db.Service().SearchText(Wide(o.text), found)
                   : conditions.empty() ? db.Service().Search(Wide(o.where), rows)
                                        : db.Service().Search(conditions, rows);
    if (rc) return Require(rc, rc == kBadQuery ? "the text query is malformed" : "search failed");
    std::vector<std::string> columns;
    for (const auto& column : db.Types()) columns.push_back(Utf8(column.first));
    Table table(columns);
    for (const auto& row : rows) {
        std::vector<std::string> cells(columns.size());
        for (const auto& field : row) {
            const std::string name = Utf8(field.name);
            for (std::size_t i = 0; i < columns.size(); ++i) {
                if (columns[i] == name) cells[i] = DisplayText(field.value);
            }
        }
        table.Add(cells, RecordJson(row));
    }
    table.Print(o.json);
    if (!o.json) std::cout << rows.size() << " record(s)\n";
    return 0;
}

int CmdCount(const LogOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    unsigned long long count = 0;
    if (!o.text.empty() && !o.where.empty())
        return Fail("conflicting options", "--text stands alone", kUsage);
    const int rc = o.text.empty() ? db.Service().GetRecordCount(Wide(o.where), count)
                                  : db.Service().GetTextCount(Wide(o.text), count);
    if (rc) return Require(rc, rc == kBadQuery ? "the text query is malformed" : "count failed");
    if (o.json) {
        std::cout << nlohmann::json{{"count", count}}.dump() << '\n';
    } else {
        std::cout << count << '\n';
    }
    return 0;
}

int CmdTextIndex(const LogOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    std::list<std::wstring> columns;
    for (const std::string& name : o.fields) {
        const auto column = db.Types().find(Wide(name));
        if (column == db.Types().end() || column->second != LogVariant::Text)
            return Fail("not a text column", "'" + name + "'", kBadInput);
        columns.push_back(Wide(name));
    }
    return Require(db.Service().CreateTextIndex(columns), "cannot create the text index");
}

int CmdRetention(const LogOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    InspectableLog& log = db.Service();
    if (o.minutesGiven) log.SetRetentionTime(o.minutes);
    log.SetRetentionBatchSize(o.batchSize);
    log.SetRetentionMaxBytes(o.maxBytes);
    unsigned long long before = 0, after = 0;
    if (o.run) {
        if (int rc = log.GetRecordCount(L"", before)) return Require(rc, "count failed");
        log.RunRetentionPass();
        if (int rc = log.GetRecordCount(L"", after)) return Require(rc, "count failed");
    }
    if (o.reclaim) {
        if (int rc = log.ReclaimSpace()) return Require(rc, "cannot reclaim the free space");
    }
    if (o.json) {
        nlohmann::json out{{"retentionMinutes", log.GetRetentionTime()}};
        if (o.run) out["deleted"] = before - after, out["remaining"] = after;
        std::cout << out.dump() << '\n';
    } else {
        std::cout << "retention: " << log.GetRetentionTime() << " minute(s)";
        if (o.maxBytes) std::cout << ", at most " << HumanSize(o.maxBytes);
        if (o.run) std::cout << "; pass deleted " << (before - after) << ", " << after << " remain";
        if (o.reclaim) std::cout << "; free space given back";
        std::cout << '\n';
    }
    return 0;
}

int CmdInfo(const LogOptions& o) {
    LogDatabase db;
    if (int rc = db.Open(o.database, false)) return rc;
    Table table({"column", "type"});
    for (const auto& column : db.Types()) {
        table.Add({Utf8(column.first), Utf8(LogVariant::GetTypeString(column.second))},
                  nlohmann::json{{"column", Utf8(column.first)},
                                 {"type", Utf8(LogVariant::GetTypeString(column.second))}});
    }
    table.Print(o.json);
    return 0;
}

}  // namespace

void AddLogCommands(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<LogOptions>();
    CLI::App* log = app.add_subcommand("log", "The log database: create, insert, search, count");
    log->require_subcommand(1);
    auto database = [&](CLI::App* command) {
        command->add_option("database", options->database, "Database file")->required();
        command->add_flag("--json", options->json, "Print JSON lines");
    };
    auto run = [&exitCode, options](int (*body)(const LogOptions&)) {
        return [&exitCode, options, body] { exitCode = body(*options); };
    };

    CLI::App* create = log->add_subcommand("create", "Create the table with typed columns");
    database(create);
    create
        ->add_option("fields", options->fields,
                     "Name:TYPE[:unique|:notnull], TYPE one of " + TypeNames())
        ->required();
    create->callback(run(CmdCreate));

    CLI::App* index =
        log->add_subcommand("index", "Index the time column and the given (or all) columns");
    database(index);
    index->add_option("columns", options->fields, "Columns to index (default: all)");
    index->callback(run(CmdIndex));

    CLI::App* insert = log->add_subcommand("insert", "Insert one record");
    database(insert);
    insert->add_option("values", options->values, "Name=value, typed by the table's columns")
        ->required();
    insert->add_option("--time", options->time, "Record time in ms since 1970 (default: now)")
        ->each([options](const std::string&) { options->timeGiven = true; });
    insert->callback(run(CmdInsert));

    CLI::App* search = log->add_subcommand("search", "Find records");
    database(search);
    search->add_option("--eq", options->eq, "Name=value: equal");
    search->add_option("--like", options->like, "Name=text: contains");
    search->add_option("--between", options->between, "Name=low..high: in range");
    search->add_flag("--or", options->orJoin, "Join the conditions with OR (default AND)");
    search->add_flag("--and", "Join the conditions with AND (the default)");
    search->add_option("--where", options->where,
                       "Raw SQL after the table name (WHERE ..., ORDER BY, LIMIT)");
    search->add_option("--text", options->text,
                       "A full-text query (see text-index): words, \"a phrase\", pre*, AND/OR/NOT");
    search->callback(run(CmdSearch));

    CLI::App* count = log->add_subcommand("count", "Count records");
    database(count);
    count->add_option("--where", options->where, "Raw SQL after the table name");
    count->add_option("--text", options->text, "A full-text query (see text-index)");
    count->callback(run(CmdCount));

    CLI::App* retention = log->add_subcommand("retention", "Set the retention time and run a pass");
    database(retention);
    retention->add_option("--minutes", options->minutes, "Retention time in minutes")
        ->each([options](const std::string&) { options->minutesGiven = true; });
    retention->add_flag("--run", options->run, "Run one deletion pass now");
    retention->add_option("--batch-size", options->batchSize,
                          "Delete in chunks of at most this many rows (0: one statement)");
    retention->add_option("--max-bytes", options->maxBytes,
                          "Also delete the oldest records until the data fits this size");
    retention->add_flag("--reclaim", options->reclaim, "Give free pages back to the file system");
    retention->callback(run(CmdRetention));

    CLI::App* textIndex = log->add_subcommand(
        "text-index", "Keep a full-text index (FTS5) of text columns, for search/count --text");
    database(textIndex);
    textIndex->add_option("columns", options->fields, "Text columns")->required();
    textIndex->callback(run(CmdTextIndex));

    AddLogImportCommand(*log, exitCode);
    AddLogTailCommands(*log, exitCode);
    AddLogForwardCommand(*log, exitCode);

    CLI::App* info = log->add_subcommand("info", "Columns and their types");
    database(info);
    info->callback(run(CmdInfo));
}

}  // namespace ovractl
