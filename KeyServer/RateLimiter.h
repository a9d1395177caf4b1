#pragma once

// Counts events (failed sign-ins, wrong codes, mails sent) per key within a
// sliding time window. A key that has reached the limit is blocked until its
// oldest event leaves the window. Keys are free-form texts such as
// "account:123" or "address:127.0.0.1"; a key need not name an existing
// account, so blocking never tells whether one exists. Thread-safe: the HTTP
// layer serves requests on several threads.

#include "Clock.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace keyserver {

struct RateLimit
{
    int maxEvents = 10;
    std::chrono::seconds window{ std::chrono::minutes(15) };
};

class RateLimiter
{
public:
    RateLimiter(RateLimit limit, const Clock& clock);

    // True while the key has maxEvents events inside the window.
    bool isBlocked(const std::string& key);
    void record(const std::string& key);
    // Forgets the key's events (a successful sign-in clears its account's failures).
    void clear(const std::string& key);

private:
    void dropExpired(std::deque<Clock::TimePoint>& events, Clock::TimePoint now) const;
    void pruneIdleKeys(Clock::TimePoint now);

    RateLimit m_limit;
    const Clock& m_clock;
    std::mutex m_mutex;
    std::unordered_map<std::string, std::deque<Clock::TimePoint>> m_events;
    std::size_t m_recordsSincePrune = 0;
};

} // namespace keyserver
