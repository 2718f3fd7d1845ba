#pragma once
// The one shape of every writer: Open with the path, the PCM format and the tags, Write blocks of int32 planes
// (media/PcmFormat.h), then Finish or Abort. Format parameters (bit rates, modes, raw tag blocks) come through each writer's own options
// record, given to its constructor.

#include <cstdint>
#include <string>

#include "media/PcmFormat.h"
#include "media/TagRecord.h"

namespace pelloran {

// Why a writer failed, for the engine to word.
enum class WriterError {
    None,
    System,        // a call on the file failed; value: its errno
    NoAudio,       // the format cannot hold a stream without frames
    RateTooHigh,   // value: the highest rate the format holds
    TagsTooLarge,  // value: the most bytes the format's tag block holds
    Library,       // text: the library's own message
};

struct WriterFailure {
    WriterError error = WriterError::None;
    int64_t value = 0;
    std::string text;
};

class AudioWriter {
public:
    // An unfinished writer aborts: its file is removed once the writer's own parts have closed it.
    virtual ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Creates (or replaces) path for blocks of format, with the tags the file format holds; a file still open
    // is aborted first. False when the format or the options are refused or the file cannot be made; nothing is
    // left at path then.
    bool Open(const std::string& path, const PcmFormat& format, const TagRecord& tags);
    // One block: planes[0..channels-1], frames samples each at the format's width. False when the block is
    // refused or could not be written; after a failed block only Abort (or a failing Finish) remains.
    bool Write(const int32_t* const* planes, int frames);

    // Room the writer lends for the next frames, filled in place and handed on by Commit without a copy
    // (the background writer's blocks). False when the writer lends none: Write then.
    struct Room {
        int32_t* planes[kMaxChannels] = {};
        int capacity = 0;  // frames, at least kMinRoomFrames
    };
    static constexpr int kMinRoomFrames = 4096;
    virtual bool Lend(Room& room);
    // Hands on the first frames of the room lent last; the same as a Write of them.
    bool Commit(int frames);
    // Completes the file. False when it could not be completed; nothing is left at the path then. A second
    // call after a completed file is true and does nothing.
    bool Finish();
    // Stops without completing and removes the file.
    void Abort();

    bool IsOpen() const { return open_; }
    const PcmFormat& Format() const { return format_; }
    // Why the last Open, Write or Finish failed (the first reason found); None when no reason is known.
    // Read it while no block is being written: after Open, Finish or Abort.
    virtual WriterFailure Failure() const { return failure_; }

protected:
    AudioWriter() = default;

    // Records why the file failed, unless a reason is known already; false, for returning.
    bool Fail(WriterError error, int64_t value = 0, std::string text = {});
    // The result of a call on the file: a failure records the system's error (errno) the call left.
    bool Io(bool done);
    // Records a system error (errno) when there is one, else a library's message when there is one; false.
    bool FailWith(int systemError, const std::string& text);
    // Frames taken since Open.
    uint64_t FramesWritten() const { return frames_; }

    // The format's own parts. Begin makes the file and the encoder for a valid format; Put takes a block
    // (arguments checked); End completes and closes the file; Release drops whatever is left without
    // completing anything, and is called after every Begin, successful or not.
    virtual bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) = 0;
    virtual bool Put(const int32_t* const* planes, int frames) = 0;
    // Takes the frames of the room lent last (only writers that lend).
    virtual bool PutLent(int frames);
    virtual bool End() = 0;
    virtual void Release() = 0;

private:
    std::string path_;
    PcmFormat format_;
    bool open_ = false;
    bool failed_ = false;
    bool finished_ = false;
    uint64_t frames_ = 0;
    WriterFailure failure_;
};

// Removes path when it is a regular file; devices such as /dev/full and anything else are left alone.
void RemoveRegularFile(const std::string& path);

}  // namespace pelloran
