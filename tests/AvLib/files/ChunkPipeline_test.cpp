// The chunk pipeline with and without a helper thread, either stage on the
// calling thread: every chunk reaches the sink once and in order, the source's
// last chunk is still consumed, and a sink that stops ends the run without
// leaving a thread waiting.

#include "files/ChunkPipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct PipelineCase
{
    bool overlap;
    ChunkPipeline::CallerRuns caller;
};

class ChunkPipelineRun : public ::testing::TestWithParam<PipelineCase>
{
protected:
    void run(const ChunkPipeline::Stage& source, const ChunkPipeline::Stage& sink)
    {
        EXPECT_TRUE(ChunkPipeline::run(64, GetParam().overlap, GetParam().caller, source, sink));
    }
};

TEST_P(ChunkPipelineRun, EveryChunkReachesTheSinkInOrder)
{
    constexpr int Chunks = 50;
    int made = 0;
    std::vector<std::string> seen;
    std::thread::id sinkThread;
    const auto caller = std::this_thread::get_id();
    run(
        [&](ChunkPipeline::Chunk& chunk) {
            const std::string text = "chunk " + std::to_string(made++);
            std::memcpy(chunk.bytes.data(), text.data(), text.size());
            chunk.length = text.size();
            return made < Chunks;
        },
        [&](ChunkPipeline::Chunk& chunk) {
            sinkThread = std::this_thread::get_id();
            seen.emplace_back(reinterpret_cast<const char*>(chunk.bytes.data()), chunk.length);
            return true;
        });
    ASSERT_EQ(seen.size(), std::size_t(Chunks));
    for (int i = 0; i < Chunks; ++i)
        EXPECT_EQ(seen[i], "chunk " + std::to_string(i));
    const bool sinkOnCaller = !GetParam().overlap || GetParam().caller == ChunkPipeline::CallerRuns::Sink;
    EXPECT_EQ(sinkThread == caller, sinkOnCaller);
}

TEST_P(ChunkPipelineRun, StoppingSinkEndsTheRun)
{
    int made = 0;
    int consumed = 0;
    run(
        [&](ChunkPipeline::Chunk& chunk) {
            chunk.length = std::size_t(++made);
            return true; // would go on for ever
        },
        [&](ChunkPipeline::Chunk& chunk) {
            ++consumed;
            return chunk.length < 5;
        });
    EXPECT_EQ(consumed, 5);
    // The source may have run ahead by the chunks in flight, never further.
    EXPECT_GE(made, 5);
    EXPECT_LE(made, 5 + int(ChunkPipeline::ChunksInFlight));
}

TEST_P(ChunkPipelineRun, SourceFailureReachesTheSink)
{
    int made = 0;
    std::vector<bool> failures;
    run(
        [&](ChunkPipeline::Chunk& chunk) {
            chunk.failed = ++made == 3;
            return !chunk.failed;
        },
        [&](ChunkPipeline::Chunk& chunk) {
            failures.push_back(chunk.failed);
            return !chunk.failed;
        });
    EXPECT_EQ(made, 3);
    EXPECT_EQ(failures, (std::vector<bool>{ false, false, true }));
}

INSTANTIATE_TEST_SUITE_P(Modes, ChunkPipelineRun,
    ::testing::Values(PipelineCase{ false, ChunkPipeline::CallerRuns::Source },
        PipelineCase{ true, ChunkPipeline::CallerRuns::Source }, PipelineCase{ true, ChunkPipeline::CallerRuns::Sink }),
    [](const auto& info) {
        if (!info.param.overlap)
            return std::string("InTurns");
        return std::string(info.param.caller == ChunkPipeline::CallerRuns::Source ? "CallerReads" : "CallerWrites");
    });

} // namespace
