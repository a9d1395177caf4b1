#pragma once

// Source of wall-clock time for code expiry and rate-limit windows. The server
// runs on SystemClock; tests hand in a clock they move by hand, so nothing has
// to sleep to see a code expire or a window pass.

#include <chrono>

namespace keyserver {

class Clock
{
public:
    using TimePoint = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

} // namespace keyserver
