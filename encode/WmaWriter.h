#pragma once
// WMA output: the list of the encoder's formats, the lookup of a format for a rate, bit rate and channel
// count, the runtime check, and the writer.

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "encode/AudioWriter.h"
#include "media/Prompt.h"
#include "platform/wm.h"

namespace pelloran {

// One format of the list.
struct WmaFormatEntry {
    int rate = 0;
    int channels = 0;
    uint32_t bitrate = 0;  // bits per second

    int Rate() const { return rate; }
    int Channels() const { return channels; }
};

// Ascending by rate, then bit rate; no two entries share rate, bit rate and channel count.
using WmaFormatList = std::list<WmaFormatEntry>;

// Inserts an entry in order; false (the entry is not added) when one with the same rate, bit rate and
// channel count exists.
bool InsertWmaFormat(WmaFormatList& list, WmaFormatEntry entry);
// Refills the list with the encoder's formats of at most two channels, without the variants meant for video
// files; false when the runtime is not loaded.
bool EnumerateWmaFormats(WmaFormatList& list);
// The format for a rate, bit rate and channel count: at that rate the nearest bit rate (the higher on a
// tie), else the lowest rate above, else the highest rate below. Null when no entry has that channel count;
// otherwise it points into the list.
const WmaFormatEntry* FindWmaFormat(const WmaFormatList& list, int rate, int wantedBitRate, int channels);

// The process's format list, enumerated once after the runtime is loaded (empty before).
const WmaFormatList& SharedWmaFormats();

// The runtime check of a WMA run and of the WMA options page: true when the runtime can be used (its
// formats are then listed). Otherwise asks whether to install it, opens the download address on Yes
// (through openAddress), and returns false.
bool CheckWmaRuntime(UserPrompt* prompt, const std::function<void(const std::string&)>& openAddress);

struct WmaOptions {
    WmaFormatEntry format;  // usually one of FindWmaFormat's
};

// Takes PCM of any rate, 8 or 16 bits, one or two channels, and converts it to the format's rate and
// channels. Every file gets the ten header attributes, empty ones included.
class WmaWriter final : public AudioWriter {
public:
    explicit WmaWriter(WmaOptions options = {});

protected:
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    WmaOptions options_;
    WmaFileWriter file_;
    TagRecord tags_;  // stored when the file is complete
    std::vector<int16_t> interleave_;
};

}  // namespace pelloran
