#pragma once

// What `ovractl serve` answers: every path is read-only, and only GET and HEAD are taken.
//   /metrics                the Prometheus exposition
//   /                       the status page
//   /api/health             the readings of every disk, as `ovractl health --json`
//   /api/volumes            the volumes, as `ovractl volumes --json`
//   /api/events?after=N     the kept watch events numbered above N (default 0)

#include "EventRing.h"
#include "Snapshot.h"

#include <functional>
#include <string>

namespace ovractl {

struct HttpAnswer {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::string allow;  // for 405: the methods taken
};

// Takes the parts of a snapshot (SnapshotPart bits) that an answer needs.
using Collect = std::function<Snapshot(unsigned parts)>;

class Site {
public:
    Site(Collect collect, const EventRing& events, std::string version)
        : m_collect(std::move(collect)), m_events(events), m_version(std::move(version)) {}
    // `target`: the request target, path and query. A HEAD answer carries the GET body; the
    // server leaves it out.
    HttpAnswer Answer(const std::string& method, const std::string& target) const;

private:
    Collect m_collect;
    const EventRing& m_events;
    std::string m_version;
};

}  // namespace ovractl
