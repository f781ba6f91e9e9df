#include "Site.h"

#include "../VolumeJson.h"
#include "Exposition.h"
#include "StatusPage.h"
#include "../HealthJson.h"

#include <nlohmann/json.hpp>

namespace ovractl {

namespace {

HttpAnswer Json(const nlohmann::json& value) {
    return {200, "application/json", value.dump() + "\n", ""};
}

HttpAnswer Text(int status, const std::string& text) {
    return {status, "text/plain; charset=utf-8", text + "\n", ""};
}

// The value of `name` in a query ("a=1&after=7"); false when the query has no such field.
bool QueryValue(const std::string& query, const std::string& name, std::string& value) {
    std::size_t at = 0;
    while (at < query.size()) {
        const std::size_t end = std::min(query.find('&', at), query.size());
        const std::string pair = query.substr(at, end - at);
        if (pair.compare(0, name.size() + 1, name + "=") == 0) {
            value = pair.substr(name.size() + 1);
            return true;
        }
        at = end + 1;
    }
    return false;
}

bool ParseCursor(const std::string& text, unsigned long long& cursor) {
    if (text.empty() || text.size() > 19) return false;
    cursor = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        cursor = cursor * 10 + static_cast<unsigned long long>(c - '0');
    }
    return true;
}

}  // namespace

HttpAnswer Site::Answer(const std::string& method, const std::string& target) const {
    if (method != "GET" && method != "HEAD") {
        HttpAnswer refused = Text(405, "read-only: GET and HEAD only");
        refused.allow = "GET, HEAD";
        return refused;
    }
    const std::size_t question = target.find('?');
    const std::string path = target.substr(0, question);
    const std::string query = question == std::string::npos ? "" : target.substr(question + 1);
    if (path == "/metrics") {
        return {200, kExpositionContentType,
                BuildExposition(m_collect(kDisks | kVolumes | kTime | kLogs), m_version), ""};
    }
    if (path == "/") {
        return {200, "text/html; charset=utf-8",
                RenderStatusPage(m_collect(kEverything), m_events.After(0), m_version), ""};
    }
    if (path == "/api/health") {
        nlohmann::json disks = nlohmann::json::array();
        for (const auto& d : m_collect(kDisks).disks)
            disks.push_back(DiskHealthJson(d.first, d.second));
        return Json(disks);
    }
    if (path == "/api/volumes") {
        nlohmann::json volumes = nlohmann::json::array();
        for (const VolumeFigures& v : m_collect(kVolumes).volumes)
            volumes.push_back(VolumeJson(v.drive, v.driveType));
        return Json(volumes);
    }
    if (path == "/api/events") {
        std::string after;
        unsigned long long cursor = 0;
        if (QueryValue(query, "after", after) && !ParseCursor(after, cursor))
            return Text(400, "after: a sequence number");
        nlohmann::json events = nlohmann::json::array();
        for (const NumberedEvent& n : m_events.After(cursor)) {
            nlohmann::json event = WatchEventJson(n.event);
            event["sequence"] = n.sequence;
            events.push_back(event);
        }
        return Json(events);
    }
    return Text(404, "not found: " + path);
}

}  // namespace ovractl
