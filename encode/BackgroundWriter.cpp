#include "encode/BackgroundWriter.h"

#include <algorithm>

namespace pelloran {

namespace {

// Frames per queued block, and blocks waiting at most: about two seconds of audio at 44.1 kHz, so memory stays
// small while the two threads seldom wait for each other. Each side, once it waits, is woken only when half
// the queue is there for it (full, or run down by half), so a fast writer is not woken at every block.
constexpr int kGatherFrames = 16384;
constexpr size_t kQueueBlocks = 6;
constexpr size_t kHalfQueue = kQueueBlocks / 2;

}  // namespace

BackgroundWriter::BackgroundWriter(std::unique_ptr<AudioWriter> inner) : inner_(std::move(inner)) {}

BackgroundWriter::~BackgroundWriter() { Stop(false); }

WriterFailure BackgroundWriter::Failure() const {
    WriterFailure own = AudioWriter::Failure();
    if (own.error != WriterError::None || !inner_) return own;
    return inner_->Failure();
}

bool BackgroundWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    if (!inner_ || !inner_->Open(path, format, tags)) return false;
    ending_ = stopping_ = failed_ = false;
    queue_.clear();
    gathering_ = {};
    Prepare(gathering_);
    thread_ = std::thread(&BackgroundWriter::Run, this);
    return true;
}

void BackgroundWriter::Prepare(Block& block) {
    for (int c = 0; c < Format().channels; ++c) block.planes[c].resize(kGatherFrames);
}

bool BackgroundWriter::Push(bool flush) {
    if (gathering_.frames == 0 || (!flush && gathering_.frames < kGatherFrames)) return true;
    bool wake = false;
    {
        std::unique_lock lock(mutex_);
        if (queue_.size() >= kQueueBlocks && !failed_) {
            // A full queue is let run down by half, so that the threads do not wake each other at every block.
            producerWaits_ = true;
            changed_.wait(lock, [this] { return queue_.size() <= kHalfQueue || failed_; });
            producerWaits_ = false;
        }
        if (failed_) return false;
        queue_.push_back(std::move(gathering_));
        // The next block reuses the room of a written one.
        gathering_ = {};
        if (!spare_.empty()) {
            gathering_ = std::move(spare_.back());
            spare_.pop_back();
            gathering_.frames = 0;
        }
        // Waking costs a system call: only a waiting thread is woken, once there is half a queue to write.
        wake = consumerWaits_ && queue_.size() >= kHalfQueue;
    }
    // Woken after the lock is let go, so that the woken thread does not at once wait for it.
    if (wake) changed_.notify_all();
    Prepare(gathering_);
    return true;
}

bool BackgroundWriter::Put(const int32_t* const* planes, int frames) {
    for (int done = 0; done < frames;) {
        const int count = std::min(frames - done, kGatherFrames - gathering_.frames);
        for (int c = 0; c < Format().channels; ++c)
            std::copy_n(planes[c] + done, count, gathering_.planes[c].data() + gathering_.frames);
        gathering_.frames += count;
        done += count;
        if (!Push(false)) return false;
    }
    return true;
}

bool BackgroundWriter::Lend(Room& room) {
    if (!IsOpen()) return false;
    // Too little room left: the block goes as it is and the next one is lent.
    if (kGatherFrames - gathering_.frames < kMinRoomFrames && !Push(true)) return false;
    room = {};
    for (int c = 0; c < Format().channels; ++c) room.planes[c] = gathering_.planes[c].data() + gathering_.frames;
    room.capacity = kGatherFrames - gathering_.frames;
    return true;
}

bool BackgroundWriter::PutLent(int frames) {
    if (frames > kGatherFrames - gathering_.frames) return false;
    gathering_.frames += frames;
    return Push(false);
}

void BackgroundWriter::Run() {
    const int channels = Format().channels;
    while (true) {
        Block block;
        bool wake = false;
        {
            std::unique_lock lock(mutex_);
            if (queue_.empty() && !ending_ && !stopping_) {
                consumerWaits_ = true;
                changed_.wait(lock, [this] { return queue_.size() >= kHalfQueue || ending_ || stopping_; });
                consumerWaits_ = false;
            }
            if (stopping_ || queue_.empty()) return;
            block = std::move(queue_.front());
            queue_.pop_front();
            wake = producerWaits_ && queue_.size() <= kHalfQueue;
        }
        if (wake) changed_.notify_all();
        const int32_t* planes[kMaxChannels] = {};
        for (int c = 0; c < channels; ++c) planes[c] = block.planes[c].data();
        const bool ok = inner_->Write(planes, block.frames);
        std::lock_guard lock(mutex_);
        if (!ok) {
            failed_ = true;
            changed_.notify_all();
            return;
        }
        if (spare_.size() < 2) spare_.push_back(std::move(block));
    }
}

void BackgroundWriter::Stop(bool drain) {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        if (!drain) stopping_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

bool BackgroundWriter::End() {
    if (!Push(true)) {
        Stop(false);
        return false;
    }
    Stop(true);
    return !failed_ && inner_->Finish();
}

void BackgroundWriter::Release() {
    Stop(false);
    if (inner_) inner_->Abort();
    queue_.clear();
    gathering_ = {};
}

}  // namespace pelloran
