#pragma once

// CancelSignal turns the first Ctrl-C (SIGINT) or SIGTERM during a file
// operation into the library's cancel flag, so that the operation stops after
// its current chunk and removes what it had half written instead of being
// killed in the middle. A second signal ends the program at once. The
// handlers are installed while the object lives and the previous ones are put
// back afterwards.

#include <atomic>
#include <csignal>
#include <cstdint>

class CancelSignal
{
public:
    CancelSignal();
    ~CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;

    // The flag to hand to the file tools; bit 0 set once a signal came.
    static const std::atomic<std::uint8_t>& flag();
    static bool cancelled();
    // Clears the flag (tests, or a command that goes on after a cancel).
    static void reset();

private:
    struct sigaction m_previousInt;
    struct sigaction m_previousTerm;
};
