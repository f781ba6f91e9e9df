#pragma once

// The watch's latest events, numbered, for the status page and /api/events. Numbers start at 1
// and never repeat while the server runs, so a client can ask for what came after the last one
// it saw; the oldest events give way once the ring is full.

#include <Ovra/DiskHealthWatch.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace ovractl {

struct NumberedEvent {
    unsigned long long sequence = 0;
    Ovra::DiskHealthEvent event;
};

class EventRing {
public:
    explicit EventRing(std::size_t capacity = 200) : m_capacity(capacity) {}
    void Add(const Ovra::DiskHealthEvent& event);
    // The kept events numbered above `sequence`, oldest first.
    std::vector<NumberedEvent> After(unsigned long long sequence) const;

private:
    const std::size_t m_capacity;
    mutable std::mutex m_mutex;
    std::deque<NumberedEvent> m_events;
    unsigned long long m_last = 0;
};

}  // namespace ovractl
