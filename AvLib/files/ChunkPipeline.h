#pragma once

// ChunkPipeline: moves a file through a few chunk buffers with two stages
// working at the same time, so that reading and writing overlap with the
// encryption in between. The source fills a chunk (reading a file, or
// decrypting a container), the sink consumes it (encrypting into a
// container, or writing a file); each returns false when nothing should
// follow. One stage runs on the calling thread, the other on a helper thread
// that lives for one run; chunks reach the sink in the order the source
// filled them. When a sink stops, the source is not asked for more. Without
// overlap (small files) or when no thread can be started, both stages take
// turns on the calling thread with one buffer. Buffers hold plain text and
// are wiped when released. Stages must not throw.

#include <cryptopp/secblock.h>

#include <cstddef>
#include <functional>

class ChunkPipeline
{
public:
    struct Chunk
    {
        CryptoPP::SecByteBlock bytes;
        std::size_t length = 0; // bytes the source put in
        std::size_t wanted = 0; // bytes the source asked for
        bool failed = false; // the source could not fill it
    };
    using Stage = std::function<bool(Chunk& chunk)>;
    enum class CallerRuns { Source, Sink };

    // Chunks in flight when overlapping: one being filled, one being
    // consumed, one waiting.
    static constexpr std::size_t ChunksInFlight = 3;

    // Runs the stages until one of them returns false. With `overlap` false
    // everything runs on the calling thread. False (and no stage called)
    // when the buffers cannot be allocated.
    static bool run(std::size_t chunkSize, bool overlap, CallerRuns caller, const Stage& source, const Stage& sink);
};
