#pragma once
// A writer that hands its blocks to another writer on a thread of its own, so that decoding the next blocks
// and encoding the last ones overlap. Blocks are gathered into larger ones (fewer hand-overs) in a short
// queue; the loop fills them in place through Lend and Commit, so samples are not copied on the way. A
// failure of the inner writer shows at a later block or at Finish.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "encode/AudioWriter.h"

namespace pelloran {

class BackgroundWriter final : public AudioWriter {
public:
    explicit BackgroundWriter(std::unique_ptr<AudioWriter> inner);
    ~BackgroundWriter() override;

    bool Lend(Room& room) override;

    // The inner writer's reason, once its thread has stopped.
    WriterFailure Failure() const override;

protected:
    // Opens the inner writer here, then starts the thread.
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool PutLent(int frames) override;
    bool End() override;
    void Release() override;

private:
    struct Block {
        std::vector<int32_t> planes[kMaxChannels];  // each of kGatherFrames samples once in use
        int frames = 0;
    };

    // Gives the gathering block its room.
    void Prepare(Block& block);
    // Queues the gathering block once full (with flush, whenever it holds frames).
    bool Push(bool flush);
    void Run();
    // Stops the thread after what is queued (drain) or at once.
    void Stop(bool drain);

    std::unique_ptr<AudioWriter> inner_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> queue_;
    Block gathering_;
    std::vector<Block> spare_;  // written blocks whose room the next ones reuse
    bool ending_ = false;   // no more blocks will come
    bool stopping_ = false;  // drop what is queued
    bool failed_ = false;    // the inner writer refused a block
    bool producerWaits_ = false;  // for room in the queue
    bool consumerWaits_ = false;  // for a block
};

}  // namespace pelloran
