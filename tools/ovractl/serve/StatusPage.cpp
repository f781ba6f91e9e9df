#include "StatusPage.h"

#include "../Output.h"
#include "../VolumeJson.h"

#include <algorithm>
#include <cstdio>

namespace ovractl {

const int kPlottedCounters[5] = {5, 187, 188, 197, 198};

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

namespace {

const std::size_t kMaxPoints = 500;  // per line: the newest readings
const std::size_t kShownEvents = 50;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// "2026-12-06 14:03:12 UTC" from ms since 1970, without the C library's shared state.
std::string UtcText(long long ms) {
    long long seconds = ms / 1000, days = seconds / 86400;
    seconds %= 86400;
    days += 719468;  // days from 0000-03-01 to 1970-01-01
    const long long era = days / 146097, dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153, month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", year, month,
                  dayOfYear - (153 * mp + 2) / 5 + 1, seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

const char* VerdictColour(int verdict) {
    static const char* const kColours[] = {"#757575", "#2e7d32", "#ef6c00", "#c62828"};
    return verdict >= 0 && verdict <= 3 ? kColours[verdict] : kColours[0];
}

struct Line {
    std::string name;
    const char* colour;
    std::vector<std::pair<long long, double>> points;  // time (ms), value
};

// An SVG line chart: time across, values up from the lowest to the highest seen; the legend
// stands at the right.
std::string Plot(const std::string& title, const std::vector<Line>& lines) {
    const double width = 570, height = 170, left = 48, right = 385, top = 22, bottom = 150;
    long long t0 = 0, t1 = 0;
    double low = 0, high = 0;
    bool any = false;
    for (const Line& line : lines) {
        for (const auto& p : line.points) {
            t0 = any ? std::min(t0, p.first) : p.first;
            t1 = any ? std::max(t1, p.first) : p.first;
            low = any ? std::min(low, p.second) : p.second;
            high = any ? std::max(high, p.second) : p.second;
            any = true;
        }
    }
    if (!any) return "";
    if (high == low) high = low + 1;
    const double span = t1 > t0 ? static_cast<double>(t1 - t0) : 1;
    const auto number = [](double value) { return Format("%g", value); };
    std::string svg = "<svg class=\"plot\" viewBox=\"0 0 " + number(width) + " " + number(height) +
                      "\" width=\"" + number(width) + "\" height=\"" + number(height) +
                      "\"><text x=\"4\" y=\"14\" class=\"title\">" + EscapeHtml(title) + "</text>";
    svg += "<rect x=\"" + number(left) + "\" y=\"" + number(top) + "\" width=\"" +
           number(right - left) + "\" height=\"" + number(bottom - top) + "\" class=\"frame\"/>";
    const auto text = [&](double x, double y, const std::string& anchor, const std::string& what) {
        return "<text x=\"" + number(x) + "\" y=\"" + number(y) +
               "\" class=\"axis\" text-anchor=\"" + anchor + "\">" + what + "</text>";
    };
    svg +=
        text(left - 4, top + 8, "end", number(high)) + text(left - 4, bottom, "end", number(low));
    svg += text(left, bottom + 14, "start", UtcText(t0)) +
           text(right, bottom + 14, "end", UtcText(t1));
    double legend = top + 8;
    for (const Line& line : lines) {
        if (line.points.empty()) continue;
        svg += std::string("<polyline fill=\"none\" stroke=\"") + line.colour +
               "\" stroke-width=\"1.5\" points=\"";
        for (const auto& p : line.points) {
            const double x = left + (right - left) * static_cast<double>(p.first - t0) / span;
            const double y = top + (bottom - top) * (high - p.second) / (high - low);
            svg += Format("%.1f,", x) + Format("%.1f ", y);
        }
        svg += "\"/><text x=\"" + number(right + 8) + "\" y=\"" + number(legend) +
               "\" class=\"axis\" fill=\"" + line.colour + "\">" + EscapeHtml(line.name) +
               "</text>";
        legend += 14;
    }
    return svg + "</svg>";
}

std::string DiskPlots(long long disk, const std::vector<HealthSample>& samples) {
    static const char* const kColours[] = {"#c62828", "#6a1b9a", "#1565c0", "#ef6c00", "#2e7d32"};
    Line temperature{"°C", "#1565c0", {}};
    std::vector<Line> counters;
    for (std::size_t i = 0; i < 5; ++i) {
        const int id = kPlottedCounters[i];
        counters.push_back(
            {std::to_string(id) + " " + Utf8(Ovra::SmartAttributeName(id)), kColours[i], {}});
    }
    for (const HealthSample& s : samples) {
        if (s.id == 0 && s.temperature != HealthSample::kAbsent)
            temperature.points.emplace_back(s.time, static_cast<double>(s.temperature));
        for (std::size_t i = 0; i < 5; ++i)
            if (s.id == kPlottedCounters[i] && s.raw != HealthSample::kAbsent)
                counters[i].points.emplace_back(s.time, static_cast<double>(s.raw));
    }
    const auto trim = [](Line& line) {
        if (line.points.size() > kMaxPoints)
            line.points.erase(line.points.begin(), line.points.end() - kMaxPoints);
    };
    trim(temperature);
    for (Line& line : counters) trim(line);
    const std::string name = "Disk" + std::to_string(disk);
    return Plot(name + " temperature", {temperature}) +
           Plot(name + " failure-predicting counters (raw)", counters);
}

std::string LastSelfTest(const Ovra::DiskHealth& h) {
    if (h.selfTestInProgress >= 0)
        return "running, " + std::to_string(h.selfTestInProgress) + "% left";
    if (h.selfTests.empty()) return "none logged";
    const Ovra::DiskSelfTest& t = h.selfTests.front();
    std::string text = Utf8(Ovra::DiskSelfTestKindName(t.kind)) + ": " +
                       Utf8(Ovra::DiskSelfTestResultName(t.result));
    if (t.powerOnHours != Ovra::kHealthAbsent)
        text += " at " + std::to_string(t.powerOnHours) + " h";
    return text;
}

std::string Disks(const Snapshot& s) {
    std::string html = "<h2>Disks</h2>";
    if (s.disks.empty()) html += "<p class=\"note\">No disk read yet.</p>";
    for (const auto& d : s.disks) {
        const Ovra::DiskHealth& h = d.second;
        html += "<div class=\"disk\"><h3>Disk" + std::to_string(d.first) +
                " <span class=\"badge\" style=\"background:" + VerdictColour(h.verdict) + "\">" +
                Utf8(Ovra::DiskHealthVerdictName(h.verdict)) + "</span> <small>" +
                EscapeHtml(Utf8(h.model)) + " " + EscapeHtml(Utf8(h.serial)) + "</small></h3><ul>";
        for (const std::wstring& reason : h.reasons)
            html += "<li>" + EscapeHtml(Utf8(reason)) + "</li>";
        html += "</ul><p>Temperature: " +
                (h.hasTemperature ? std::to_string(h.temperature) + " °C" : "not reported") +
                " · Last self-test: " + EscapeHtml(LastSelfTest(h)) + "</p>";
        const auto history = s.history.find(d.first);
        if (history != s.history.end()) html += DiskPlots(d.first, history->second);
        html += "</div>";
    }
    for (const auto& history : s.history)  // disks in the health log that the watch lost
        if (!s.disks.count(history.first))
            html += "<div class=\"disk\">" + DiskPlots(history.first, history.second) + "</div>";
    return html;
}

std::string Volumes(const Snapshot& s) {
    std::string html =
        "<h2>Volumes</h2><table><tr><th>Root</th><th>Label</th><th>File system</th>"
        "<th>Used</th><th>Free</th><th>Total</th></tr>";
    for (const VolumeFigures& v : s.volumes) {
        const Ovra::LogicalDrive& d = v.drive;
        const double used =
            d.totalSize
                ? 100.0 * static_cast<double>(d.totalSize - std::min(d.freeSize, d.totalSize)) /
                      static_cast<double>(d.totalSize)
                : 0;
        html += "<tr><td>" + EscapeHtml(Utf8(d.root)) + "</td><td>" +
                EscapeHtml(Utf8(d.volumeName)) + "</td><td>" +
                EscapeHtml(FileSystemName(d.fileSystem)) +
                "</td><td><div class=\"bar\"><div style=\"width:" + Format("%.1f", used) +
                "%;background:" + (used >= 90 ? "#c62828" : "#1565c0") + "\"></div></div>" +
                Format("%.0f%%", used) + "</td><td>" + HumanSize(d.freeSize) + "</td><td>" +
                HumanSize(d.totalSize) + "</td></tr>";
    }
    return html + "</table>";
}

std::string TimeAndLogs(const Snapshot& s) {
    const TimeFigures& t = s.time;
    std::string html = "<h2>Time</h2><p>Server " + EscapeHtml(t.server) + ": ";
    html += t.answered ? "offset " + Format("%+.3f ms", t.offsetSeconds * 1000) : "no answer";
    html += t.lastSyncMs > 0 ? ", last answer " + UtcText(t.lastSyncMs) : ", never answered";
    html +=
        "</p><h2>Log databases</h2><table><tr><th>Database</th><th>Records</th><th>Size</th>"
        "<th>Oldest record</th></tr>";
    for (const LogFigures& l : s.logs)
        html += "<tr><td>" + EscapeHtml(l.database) + "</td><td>" + std::to_string(l.records) +
                "</td><td>" + HumanSize(l.fileBytes) + "</td><td>" +
                (l.oldestMs >= 0 ? UtcText(l.oldestMs) : "-") + "</td></tr>";
    return html + "</table>";
}

std::string Events(const std::vector<NumberedEvent>& events) {
    std::string html =
        "<h2>Latest events</h2><table><tr><th>#</th><th>Time</th><th>Disk</th>"
        "<th>Event</th><th>From</th><th>To</th><th>Detail</th></tr>";
    if (events.empty()) return html + "</table><p class=\"note\">No event since the start.</p>";
    const std::size_t shown = std::min(events.size(), kShownEvents);
    for (std::size_t i = 0; i < shown; ++i) {
        const NumberedEvent& n = events[events.size() - 1 - i];
        const Ovra::DiskHealthEvent& e = n.event;
        html += "<tr><td>" + std::to_string(n.sequence) + "</td><td>" + UtcText(e.time) +
                "</td><td>" + (e.disk >= 0 ? "Disk" + std::to_string(e.disk) : "") + "</td><td>" +
                EscapeHtml(Utf8(Ovra::DiskHealthEventName(e.type))) + "</td><td>" +
                EscapeHtml(Utf8(e.from)) + "</td><td>" + EscapeHtml(Utf8(e.to)) + "</td><td>" +
                EscapeHtml(Utf8(e.detail)) + "</td></tr>";
    }
    return html + "</table>";
}

const char kStyle[] =
    "body{font:14px system-ui,sans-serif;margin:24px;color:#212121;background:#fafafa}"
    "h1{font-size:20px}h2{font-size:16px;margin-top:28px;border-bottom:1px solid #ddd}"
    ".disk{background:#fff;border:1px solid #e0e0e0;border-radius:6px;padding:8px 14px;"
    "margin:10px 0}.badge{color:#fff;border-radius:4px;padding:1px 8px;font-size:13px}"
    "small,.note{color:#757575}table{border-collapse:collapse}td,th{padding:3px 10px;"
    "text-align:left;border-bottom:1px solid #eee}.bar{display:inline-block;width:160px;"
    "height:10px;background:#e0e0e0;margin-right:6px}.bar div{height:10px}"
    ".plot{margin:4px 12px 4px 0}.plot .title{font-size:12px;font-weight:600}"
    ".plot .axis{font-size:10px}.plot .frame{fill:#fff;stroke:#bdbdbd}";

}  // namespace

std::string RenderStatusPage(const Snapshot& s, const std::vector<NumberedEvent>& events,
                             const std::string& version) {
    std::string html =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"refresh\" content=\"30\"><title>Ovra disk health</title><style>";
    html += kStyle;
    html += "</style></head><body><h1>Ovra disk health</h1><p class=\"note\">ovractl " +
            EscapeHtml(version) + " · " + UtcText(s.takenMs) +
            " · <a href=\"/metrics\">metrics</a>";
    for (const auto& c : s.collectors)
        if (!c.second) html += " · <b>" + EscapeHtml(c.first) + " could not be read</b>";
    html += "</p>" + Disks(s) + Volumes(s) + TimeAndLogs(s) + Events(events);
    return html + "</body></html>";
}

}  // namespace ovractl
