#include "container/CryptFileWorker.h"

#include <system_error>

#ifdef __linux__
#include <sched.h>
#endif

CryptFileWorker::~CryptFileWorker()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool CryptFileWorker::startThread()
{
    if (m_thread.joinable())
        return true;
    try {
        m_thread = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CryptFileWorker::run(std::function<void()> job)
{
    if (!startThread()) {
        job();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        ++m_unfinished;
    }
    m_changed.notify_all();
}

void CryptFileWorker::wait()
{
    waitForRoom(1);
}

void CryptFileWorker::waitForRoom(std::size_t jobs)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_unfinished < jobs; });
}

void CryptFileWorker::loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, and nothing left to do
        auto job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
        --m_unfinished;
        m_changed.notify_all();
    }
}

int CryptFileWorker::usableCpus()
{
#ifdef __linux__
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        return CPU_COUNT(&allowed);
#endif
    return int(std::thread::hardware_concurrency());
}
