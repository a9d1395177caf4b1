#pragma once

// CryptFileWorker: one helper thread of a container, so that a large read or
// write can encrypt half of its segments while the calling thread does the
// other half, or so that encrypted runs reach the file while the caller
// encrypts the next. The thread is started on first use and joined by the
// destructor. run() queues a job, and jobs run one after the other in the
// order queued; wait() returns once every queued job is done, waitForRoom(n)
// once fewer than n are queued or running. When no thread can be started,
// run() does the job on the calling thread. Jobs must not throw.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CryptFileWorker
{
public:
    CryptFileWorker() = default;
    ~CryptFileWorker();
    CryptFileWorker(const CryptFileWorker&) = delete;
    CryptFileWorker& operator=(const CryptFileWorker&) = delete;

    // Queues `job` for the helper thread (or runs it at once); call wait()
    // before touching what the job uses.
    void run(std::function<void()> job);
    void wait();
    void waitForRoom(std::size_t jobs);

    // CPUs this process may run on now: with only one, a helper thread
    // would only take turns with the caller.
    static int usableCpus();

private:
    bool startThread();
    void loop();

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    std::size_t m_unfinished = 0; // queued or running
    bool m_stopping = false;
};
