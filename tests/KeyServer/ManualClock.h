#pragma once

// A clock that stands still until the test moves it.

#include "Clock.h"

namespace keyserver {

class ManualClock : public Clock
{
public:
    TimePoint now() const override { return m_now; }
    void advance(std::chrono::seconds by) { m_now += by; }

private:
    // 2026-01-01T00:00:00Z: a fixed start keeps runs alike.
    TimePoint m_now{ std::chrono::seconds(1767225600) };
};

} // namespace keyserver
