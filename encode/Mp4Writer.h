#pragma once
// MPEG-4 audio output (m4a, mp4, m4b: the same content): AAC frames from the FAAC buffering stored as
// samples of one track, with iTunes-style metadata.

#include <cstdint>
#include <string>

#include "encode/AacWriter.h"
#include "platform/mp4.h"
#include "platform/mp4_write.h"

namespace pelloran {

struct TagRecord;

class Mp4Writer : public FaacStream {
public:
    Mp4Writer() = default;
    ~Mp4Writer() override { Close(); }

    // Creates (or replaces) the file and opens the encoder for raw frames.
    bool Open(const std::string& path, int rate, int channels, int width);
    // Applies the configuration and sets up the track (time scales, profile, decoder configuration).
    bool Start();
    // Stores the non-empty texts (UTF-8) and the track number when above 0; the copyright is not stored.
    void SetMetadata(const std::string& title, const std::string& artist, const std::string& album,
                     const std::string& genre, const std::string& year, const std::string& comment,
                     const std::string& composer, const std::string& copyright, int trackNumber);
    // Drains the encoder and finishes the file; false when anything since Open failed.
    bool Close();

    // Samples per channel handed to the encoder, and the sum of the durations written (tests).
    uint64_t EncodedSamples() const { return encoded_; }
    uint64_t WrittenDuration() const { return written_; }

protected:
    bool Consume(unsigned samplesPassed, const uint8_t* data, int bytes) override;

private:
    Mp4FilePtr file_;
    MP4TrackId track_ = MP4_INVALID_TRACK_ID;
    int rate_ = 0;
    uint64_t frameLength_ = 0;
    uint64_t encoded_ = 0;
    uint64_t written_ = 0;
    bool failed_ = false;
};

}  // namespace pelloran
