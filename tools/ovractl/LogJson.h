#pragma once

// A log record as one JSON object, {"Time": ms, "<column>": value, ...} with NULL columns left
// out: what search --json, tail --json and export print and what import reads back.

#include "LogAccess.h"

#include <Ovra/LogService.h>

#include <nlohmann/json.hpp>

#include <list>
#include <string>

namespace ovractl {

nlohmann::json RecordJson(const std::list<Ovra::LogService::FieldData>& record);

// The record of `object`, its values typed by `types`; the time defaults to now. A key "cursor"
// that names no column is left out, so tail's lines import too. False, with the reason, for an
// object that is no such record.
bool RecordFromJson(const nlohmann::json& object, const ColumnTypes& types,
                    Ovra::LogService::Record& record, std::string& reason);

// One line of JSON; text that is not valid UTF-8 is replaced rather than refused.
std::string JsonLine(const nlohmann::json& value);

}  // namespace ovractl
