#include "EventRing.h"

namespace ovractl {

void EventRing::Add(const Ovra::DiskHealthEvent& event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back({++m_last, event});
    if (m_events.size() > m_capacity) m_events.pop_front();
}

std::vector<NumberedEvent> EventRing::After(unsigned long long sequence) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<NumberedEvent> out;
    for (const NumberedEvent& e : m_events)
        if (e.sequence > sequence) out.push_back(e);
    return out;
}

}  // namespace ovractl
