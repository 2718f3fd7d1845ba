#pragma once
// Writing side of the MPEG-4 layer, on libavformat's MP4 muxer (the iTunes flavour, brand "M4A "): one AAC
// audio track, iTunes-style metadata in UTF-8.
//
// Timing: the track's frames follow each other by their durations, in samples. The rendering offset of the
// first frame is the encoder delay: the file gets an edit list that starts playback that far into the track,
// so players skip the delay.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

class Mp4AudioFile {
public:
    Mp4AudioFile();
    // A file that was not finished is closed as it is.
    ~Mp4AudioFile();
    Mp4AudioFile(const Mp4AudioFile&) = delete;
    Mp4AudioFile& operator=(const Mp4AudioFile&) = delete;

    // Creates (or replaces) path with one AAC track at rate, described by its AudioSpecificConfig (which
    // also gives the channel count). False when the file cannot be created or the configuration not read.
    bool Create(const std::string& path, int rate, const std::vector<uint8_t>& config);
    // The same with one ALAC track: its magic cookie (the encoder's extradata), frames of frameLength samples
    // (the last may be shorter) and no encoder delay.
    bool CreateAlac(const std::string& path, int rate, int channels, int bits, int frameLength,
                    const std::vector<uint8_t>& cookie);
    // Tags stored once the file is complete (platform/mp4_tags.h): every field and the pictures covr takes,
    // the track number when above 0.
    void SetTags(const TagRecord& tags);
    // Appends one AAC frame lasting duration samples. offset: the first frame's rendering offset (the
    // encoder delay); every later frame's must be 0. False when it cannot be written.
    bool WriteFrame(const uint8_t* data, size_t size, uint64_t duration, uint64_t offset);
    // Writes the header if no frame did, then the index; false when the file could not be completed.
    bool Finish();
    // Closes the file as it is, without completing it.
    void Close();

    // Why the last call failed: the system's error (errno) of a failed write or close, 0 when none; else the
    // library's message, or empty. Kept after Finish and Close.
    int SystemError() const { return systemError_; }
    const std::string& ErrorText() const { return errorText_; }

private:
    struct State;
    // Records a failed libavformat call (an AVERROR); false.
    bool Failed(int averror);
    bool Open(const std::string& path, int codecId, int rate, int channels, int frameLength,
              const std::vector<uint8_t>& config);
    std::unique_ptr<State> s_;
    int systemError_ = 0;
    std::string errorText_;
};

// Channel count of an AudioSpecificConfig (1..6, or 8 for configuration 7), 0 when it cannot be read.
int AudioSpecificConfigChannels(const uint8_t* config, size_t size);

}  // namespace pelloran
