#include "files/ChunkPipeline.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// A chunk as the source stage gets it: nothing in it yet.
ChunkPipeline::Chunk& emptied(ChunkPipeline::Chunk& chunk)
{
    chunk.length = 0;
    chunk.wanted = 0;
    chunk.failed = false;
    return chunk;
}

// The two queues between the stages and the flags that end a run.
class ChunkQueues
{
public:
    using Chunk = ChunkPipeline::Chunk;

    ChunkQueues(std::size_t count, std::size_t chunkSize)
        : m_chunks(count)
    {
        for (auto& chunk : m_chunks) {
            chunk.bytes.New(chunkSize);
            m_empty.push_back(&chunk);
        }
    }

    // Source side: an empty chunk, or null once the sink has stopped.
    Chunk* takeEmpty()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stopped || !m_empty.empty(); });
        return m_stopped ? nullptr : popFront(m_empty);
    }
    void putFull(Chunk* chunk)
    {
        change([&] { m_full.push_back(chunk); });
    }
    void finishSource()
    {
        change([this] { m_sourceDone = true; });
    }

    // Sink side: the next full chunk, or null when there is none to come.
    Chunk* takeFull()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stopped || !m_full.empty() || m_sourceDone; });
        return m_stopped || m_full.empty() ? nullptr : popFront(m_full);
    }
    void putEmpty(Chunk* chunk)
    {
        change([&] { m_empty.push_back(chunk); });
    }
    void stop()
    {
        change([this] { m_stopped = true; });
    }

private:
    std::vector<Chunk> m_chunks;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk*> m_empty;
    std::deque<Chunk*> m_full;
    bool m_sourceDone = false;
    bool m_stopped = false;

    // Makes a change under the lock and wakes the other side.
    template <class Change>
    void change(Change apply)
    {
        {
            std::lock_guard lock(m_mutex);
            apply();
        }
        m_changed.notify_all();
    }
    static Chunk* popFront(std::deque<Chunk*>& queue)
    {
        Chunk* chunk = queue.front();
        queue.pop_front();
        return chunk;
    }
};

void sourceLoop(ChunkQueues& queues, const ChunkPipeline::Stage& source)
{
    while (ChunkPipeline::Chunk* chunk = queues.takeEmpty()) {
        const bool more = source(emptied(*chunk));
        queues.putFull(chunk);
        if (!more)
            break;
    }
    queues.finishSource();
}

void sinkLoop(ChunkQueues& queues, const ChunkPipeline::Stage& sink)
{
    while (ChunkPipeline::Chunk* chunk = queues.takeFull()) {
        const bool more = sink(*chunk);
        queues.putEmpty(chunk);
        if (!more) {
            queues.stop();
            break;
        }
    }
    // A source still filling must not wait for room forever.
    queues.stop();
}

bool runInTurns(std::size_t chunkSize, const ChunkPipeline::Stage& source, const ChunkPipeline::Stage& sink)
{
    ChunkPipeline::Chunk chunk;
    try {
        chunk.bytes.New(chunkSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (;;) {
        const bool more = source(emptied(chunk));
        if (!sink(chunk) || !more)
            return true;
    }
}

} // namespace

bool ChunkPipeline::run(std::size_t chunkSize, bool overlap, CallerRuns caller, const Stage& source, const Stage& sink)
{
    if (!overlap)
        return runInTurns(chunkSize, source, sink);
    std::unique_ptr<ChunkQueues> queues;
    std::thread helper;
    try {
        queues = std::make_unique<ChunkQueues>(ChunksInFlight, chunkSize);
        if (caller == CallerRuns::Source)
            helper = std::thread([&] { sinkLoop(*queues, sink); });
        else
            helper = std::thread([&] { sourceLoop(*queues, source); });
    } catch (const std::bad_alloc&) {
        queues.reset();
        return runInTurns(chunkSize, source, sink);
    } catch (const std::system_error&) {
        queues.reset();
        return runInTurns(chunkSize, source, sink);
    }
    if (caller == CallerRuns::Source)
        sourceLoop(*queues, source);
    else
        sinkLoop(*queues, sink);
    helper.join();
    return true;
}
