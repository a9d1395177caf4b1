#include "RateLimiter.h"

namespace keyserver {

namespace {
// Idle keys are swept out now and then so that a stream of made-up names
// cannot grow the table without bound.
constexpr std::size_t kRecordsBetweenPrunes = 1024;
} // namespace

RateLimiter::RateLimiter(RateLimit limit, const Clock& clock)
    : m_limit(limit)
    , m_clock(clock)
{
}

bool RateLimiter::isBlocked(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    auto found = m_events.find(key);
    if (found == m_events.end())
        return false;
    dropExpired(found->second, m_clock.now());
    return static_cast<int>(found->second.size()) >= m_limit.maxEvents;
}

void RateLimiter::record(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    const auto now = m_clock.now();
    auto& events = m_events[key];
    dropExpired(events, now);
    events.push_back(now);
    // Only the newest maxEvents matter for the decision.
    while (static_cast<int>(events.size()) > m_limit.maxEvents)
        events.pop_front();
    if (++m_recordsSincePrune >= kRecordsBetweenPrunes)
        pruneIdleKeys(now);
}

void RateLimiter::clear(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    m_events.erase(key);
}

void RateLimiter::dropExpired(std::deque<Clock::TimePoint>& events, Clock::TimePoint now) const
{
    while (!events.empty() && now - events.front() >= m_limit.window)
        events.pop_front();
}

void RateLimiter::pruneIdleKeys(Clock::TimePoint now)
{
    m_recordsSincePrune = 0;
    for (auto it = m_events.begin(); it != m_events.end();) {
        dropExpired(it->second, now);
        it = it->second.empty() ? m_events.erase(it) : std::next(it);
    }
}

} // namespace keyserver
