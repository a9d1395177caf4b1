#pragma once

// CryptFileWorker: one helper thread of a container, so that a large read or
// write can encrypt and move half of its segments while the calling thread
// does the other half. The thread is started on first use and joined by the
// destructor. run() hands over one job at a time and wait() returns once it
// is done; when no thread can be started, run() does the job on the calling
// thread. Jobs must not throw.

#include <condition_variable>
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

    // Starts `job` on the helper thread (or runs it at once); call wait()
    // before touching what the job uses.
    void run(std::function<void()> job);
    void wait();

    // CPUs this process may run on now: with only one, a helper thread
    // would only take turns with the caller.
    static int usableCpus();

private:
    bool startThread();
    void loop();

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_job;
    bool m_busy = false;
    bool m_stopping = false;
};
