#include "ProgressBar.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kMaxLabel = 40;

void writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count <= 0)
            return;
        done += static_cast<std::size_t>(count);
    }
}

} // namespace

ProgressBar::ProgressBar(bool enabled, int fd)
    : m_enabled(enabled)
    , m_fd(fd)
{
}

ProgressBar::~ProgressBar()
{
    finish();
}

std::string ProgressBar::render(int percent, const std::string& label, int width)
{
    percent = std::clamp(percent, 0, 100);
    const int filled = percent * width / 100;
    std::string line = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
    std::string number = std::to_string(percent) + "%";
    line += std::string(4 - std::min<std::size_t>(4, number.size()), ' ') + number + " ";
    // Long paths keep their end, which names the file.
    if (label.size() > kMaxLabel)
        line += "..." + label.substr(label.size() - (kMaxLabel - 3));
    else
        line += label;
    return line;
}

void ProgressBar::start(const std::string& label, const std::atomic<int>& progress)
{
    finish();
    if (!m_enabled)
        return;
    m_label = label;
    m_progress = &progress;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void ProgressBar::finish()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    writeAll(m_fd, "\r" + std::string(m_lastLength, ' ') + "\r");
    m_lastLength = 0;
}

void ProgressBar::draw(int percent)
{
    const std::string line = render(percent, m_label);
    std::string text = "\r" + line;
    if (line.size() < m_lastLength)
        text += std::string(m_lastLength - line.size(), ' ');
    writeAll(m_fd, text);
    m_lastLength = std::max(m_lastLength, line.size());
}

void ProgressBar::run()
{
    std::unique_lock lock(m_mutex);
    int last = -1;
    while (!m_stop) {
        const int percent = m_progress->load(std::memory_order_relaxed);
        if (percent != last) {
            draw(percent);
            last = percent;
        }
        m_wake.wait_for(lock, kRedrawInterval, [this] { return m_stop; });
    }
}
