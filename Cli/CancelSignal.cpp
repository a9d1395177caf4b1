#include "CancelSignal.h"

namespace {

// Written by the signal handler, read by the file operation: a lock-free
// atomic is the one kind of object both may touch.
std::atomic<std::uint8_t> g_cancel{ 0 };
static_assert(std::atomic<std::uint8_t>::is_always_lock_free);

extern "C" void onCancelSignal(int signalNumber)
{
    if (g_cancel.fetch_or(1) & 1) {
        // Asked twice: the user wants out now.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
    }
}

} // namespace

CancelSignal::CancelSignal()
{
    struct sigaction action = {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &m_previousInt);
    ::sigaction(SIGTERM, &action, &m_previousTerm);
}

CancelSignal::~CancelSignal()
{
    ::sigaction(SIGINT, &m_previousInt, nullptr);
    ::sigaction(SIGTERM, &m_previousTerm, nullptr);
}

const std::atomic<std::uint8_t>& CancelSignal::flag()
{
    return g_cancel;
}

bool CancelSignal::cancelled()
{
    return (g_cancel.load() & 1) != 0;
}

void CancelSignal::reset()
{
    g_cancel.store(0);
}
