#pragma once
// Local media files for the FFmpeg media source: read through one of our open files and demuxed only by
// demuxers of self-contained files (chosen before the demuxer reads anything, so playlists, manifests and
// sequences never reach other files), and the watch that tells a stream cut short from one that ended where
// its header said.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVPacket;

namespace pelloran {

class File;

// Closes the demuxer and frees the reader over the file under it.
struct MediaInputCloser {
    void operator()(AVFormatContext* context) const;
};
using MediaInput = std::unique_ptr<AVFormatContext, MediaInputCloser>;

// Which demuxers may open a file.
enum class DemuxerSet {
    Media,          // every self-contained audio or video container the readers know
    GeneralReader,  // the audio formats the general reader decodes (the others go on to their own readers)
    WindowsMedia,   // ASF alone, for the WMA reader
};

// Asked while the library works; true makes every blocking call over the input give up (AVERROR_EXIT).
// Must outlive the input.
using CancelCheck = std::function<bool()>;

// Opens a container over an open file (read at its own offsets; the file must outlive the input) with a
// demuxer of the set; name serves the format guess only and is never opened. Leading ID3v2 tags are not shown
// to the library: TagLib reads them, and the library's reading of a large one takes time that grows with the
// square of its frames. Null when no demuxer of the set takes the file; why then says so.
MediaInput OpenLocalMedia(const File& file, const std::string& name, DemuxerSet set,
                          const CancelCheck* cancelled = nullptr, std::string* why = nullptr);

// Bytes of the ID3v2 tags at the start of a file (several may follow each other); a tag that claims more than
// the file holds takes the rest of it.
uint64_t LeadingId3v2Bytes(const File& file);

// Where the library's offset 0 is in the file.
int64_t MediaStartOffset(const AVFormatContext& input);

// Whether the container of an opened input may hand this codec (an AVCodecID) on to readers of the set.
bool TakesCodec(DemuxerSet set, const AVFormatContext& input, int codecId);

// True when the data object of an ASF file runs past the end of the file (a size of 0 or all ones tells
// nothing); false for anything that is not ASF.
bool AsfDataCutShort(const File& file);
bool AsfDataCutShort(const std::string& path);

// Follows the packets of one stream. Truncated only on evidence: a read error rather than the end of the
// file, a data size the file cannot hold, or packets that stop well before a duration the header states.
// Durations the library estimates (from the bit rate, from the last packets) are never held against it.
class StreamEndWatch {
public:
    void Start(const AVFormatContext& input, int streamIndex, const File& file);
    void OnPacket(const AVPacket& packet);
    // The av_read_frame result that ended the reading.
    void OnReadEnd(int result);
    bool Truncated() const;

private:
    int64_t expectedEnd_ = 0;  // stream time base
    int64_t margin_ = 0;
    bool haveExpected_ = false;
    int64_t seenEnd_ = 0;
    bool haveSeen_ = false;
    bool readError_ = false;
    bool dataCut_ = false;
};

}  // namespace pelloran
