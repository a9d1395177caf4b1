#pragma once

// ProgressBar draws the progress of one long file operation on standard
// error while the operation runs on the calling thread: a small drawing
// thread polls the percentage the operation publishes and redraws one line
// ("\r[#####.....]  45% name") a few times a second, then clears the line
// when the operation ends. When standard error is not a terminal nothing is
// drawn and no thread runs, so logs and pipes stay clean.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class ProgressBar
{
public:
    // `enabled` is normally isatty(STDERR_FILENO).
    explicit ProgressBar(bool enabled, int fd = 2);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Starts drawing `progress` (0 to 100) for `label`. Stops a previous bar.
    void start(const std::string& label, const std::atomic<int>& progress);
    // Stops drawing and clears the line.
    void finish();

    // One line of the bar, `width` characters of bar between the brackets.
    static std::string render(int percent, const std::string& label, int width = 30);

private:
    void draw(int percent);
    void run();

    bool m_enabled;
    int m_fd;
    std::string m_label;
    const std::atomic<int>* m_progress = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::size_t m_lastLength = 0;
};
