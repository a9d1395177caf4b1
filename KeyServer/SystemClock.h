#pragma once

// The operating system's wall clock.

#include "Clock.h"

namespace keyserver {

class SystemClock : public Clock
{
public:
    TimePoint now() const override { return std::chrono::system_clock::now(); }
};

} // namespace keyserver
