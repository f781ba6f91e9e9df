#include "LogJson.h"

#include "Output.h"
#include "ValueText.h"

#include <Ovra/Bases/Clock.h>

namespace ovractl {

using Ovra::LogService;
using Ovra::LogVariant;

nlohmann::json RecordJson(const std::list<LogService::FieldData>& record) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& field : record) object[Utf8(field.name)] = JsonValue(field.value);
    return object;
}

bool RecordFromJson(const nlohmann::json& object, const ColumnTypes& types,
                    LogService::Record& record, std::string& reason) {
    if (!object.is_object()) {
        reason = "not a JSON object";
        return false;
    }
    record.time = Ovra::GetCurTime();
    record.data.clear();
    for (const auto& item : object.items()) {
        const nlohmann::json& value = item.value();
        if (item.key() == "time" || item.key() == "Time") {
            if (!value.is_number_integer()) {
                reason = "time is not an integer";
                return false;
            }
            record.time = value.get<long long>();
            continue;
        }
        auto column = types.find(Wide(item.key()));
        if (column == types.end()) {
            if (item.key() == "cursor") continue;
            reason = "unknown column '" + item.key() + "'";
            return false;
        }
        if (value.is_null()) continue;  // NULL: leave the column out
        LogVariant typed;
        if (!ValueFromJson(column->second, value, typed)) {
            reason = "malformed value for " + item.key();
            return false;
        }
        record.data.push_back({column->first, typed});
    }
    if (record.data.empty()) {
        reason = "no column values";
        return false;
    }
    return true;
}

std::string JsonLine(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace ovractl
