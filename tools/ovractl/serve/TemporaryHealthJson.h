#pragma once

// TEMPORARY: stands in for HealthJson.h until the branches meet; the lead replaces it.

#include "../Output.h"

#include <Ovra/DiskHealth.h>
#include <Ovra/DiskHealthWatch.h>

#include <nlohmann/json.hpp>

namespace ovractl {

inline nlohmann::json DiskHealthJson(long long disk, const Ovra::DiskHealth& health) {
    nlohmann::json reasons = nlohmann::json::array();
    for (const std::wstring& reason : health.reasons) reasons.push_back(Utf8(reason));
    return {{"disk", disk},
            {"verdict", Utf8(Ovra::DiskHealthVerdictName(health.verdict))},
            {"reasons", reasons}};
}

inline nlohmann::json WatchEventJson(const Ovra::DiskHealthEvent& event) {
    return {{"time", event.time},
            {"disk", event.disk},
            {"event", Utf8(Ovra::DiskHealthEventName(event.type))},
            {"from", Utf8(event.from)},
            {"to", Utf8(event.to)},
            {"detail", Utf8(event.detail)}};
}

inline const char* DiskKindText(Ovra::DiskHealth::Kind kind) {
    return kind == Ovra::DiskHealth::Ata    ? "ATA"
           : kind == Ovra::DiskHealth::Nvme ? "NVMe"
                                            : "unknown";
}

}  // namespace ovractl
