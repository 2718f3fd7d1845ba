#pragma once
// WMA output: the list of the codec's formats, the lookup of a format for a rate, bit rate and channel
// count, the runtime check, and the writer.

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "media/Prompt.h"
#include "platform/wm.h"

namespace pelloran {



struct WmaFormatEntry {
    WmaMediaType mediaType;
    uint32_t bitrate = 0;  // bits per second

    int Rate() const { return static_cast<int>(mediaType.samplesPerSec); }
    int Channels() const { return mediaType.channels; }
};

// Ascending by rate, then bit rate; no two entries share rate, bit rate and channel count.
using WmaFormatList = std::list<WmaFormatEntry>;

// Inserts an entry in order; false (the entry is not added) when one with the same rate, bit rate and
// channel count exists.
bool InsertWmaFormat(WmaFormatList& list, WmaFormatEntry entry);
// True when a format description marks a format meant for video files: "(A/V)" in any letter case.
bool IsAudioVideoFormat(std::string_view description);
// Refills the list with the WMA 9 Standard and Professional formats of at most two channels; false when
// the runtime is not loaded or a runtime call fails (entries added before stay).
bool EnumerateWmaFormats(WmaFormatList& list);
// The format for a rate, bit rate and channel count: at that rate the nearest bit rate (the higher on a
// tie), else the lowest rate above, else the highest rate below. False when no entry has that channel
// count; mediaType then points into the list.
bool FindWmaFormat(const WmaFormatList& list, int rate, int wantedBitRate, int channels,
                   const WmaMediaType*& mediaType, uint32_t& chosenBitRate);

// The process's format list, enumerated once after the runtime is loaded (empty before).
const WmaFormatList& SharedWmaFormats();

// The runtime check of a WMA run and of the WMA options page: true when the runtime can be used (its
// formats are then listed). Otherwise asks whether to install it, opens the download address on Yes
// (through openAddress), and returns false.
bool CheckWmaRuntime(UserPrompt* prompt, const std::function<void(const std::string&)>& openAddress);

class WmaWriter {
public:
    WmaWriter() = default;
    ~WmaWriter() { Reset(); }
    WmaWriter(const WmaWriter&) = delete;
    WmaWriter& operator=(const WmaWriter&) = delete;

    void SetOutputPath(const std::string& path) { path_ = path; }
    // The PCM the Encode calls receive.
    void SetInputFormat(int rate, int width, int channels);
    // A format from FindWmaFormat (not owned; the list outlives the writer).
    void SetFormat(const WmaMediaType* mediaType, uint32_t bitrate);
    void SetTags(const std::string& title, const std::string& album, const std::string& artist,
                 const std::string& genre, const std::string& year, const std::string& comment,
                 const std::string& composer, const std::string& copyright, int trackNumber);
    // Builds the profile, adds the ten header attributes (empty ones included) and begins writing.
    bool Start();
    bool Encode16(const int16_t* left, const int16_t* right, int frames);
    bool Encode8(const uint8_t* left, const uint8_t* right, int frames);
    // Ends writing; false when the file could not be completed.
    bool Finish();

    // Presentation time of the next sample in 100-ns units, from the total frames written.
    uint64_t PresentationTime() const { return presentationTime_; }

private:
    bool Write(const void* left, const void* right, int frames, int bytesPerSample);
    void Reset();

    std::string path_;
    int rate_ = 0;
    int width_ = 0;
    int channels_ = 0;
    const WmaMediaType* mediaType_ = nullptr;
    uint32_t bitrate_ = 0;
    std::string title_, album_, artist_, genre_, year_, comment_, composer_, copyright_;
    int trackNumber_ = 0;
    std::unique_ptr<WmWriter> writer_;
    std::vector<uint8_t> interleave_;
    uint64_t framesWritten_ = 0;
    uint64_t presentationTime_ = 0;
};

}  // namespace pelloran
