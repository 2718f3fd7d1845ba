#pragma once
// One descriptor per output format: its names and facts, its options, its tag and length rules, and the plan
// that picks its writer. Every list of output formats (the settings table, -f, --list-formats, the window's
// list, the generated completions and man page) is made from the descriptors; adding a format is a writer,
// a descriptor and an options page.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encode/AudioWriter.h"
#include "media/PcmFormat.h"
#include "media/TagRecord.h"
#include "settings/SettingRows.h"

namespace pelloran {

class AudioDecoder;
struct TagChoice;

// What a plan looks at.
struct PlanInput {
    const ConvertSettings& settings;
    AudioDecoder& decoder;    // the source's own bit rate, MPEG channel mode and tags
    const PcmFormat& source;  // what the reader delivers: its rate, channels and width
    uint16_t formatCode;      // the source's input format
    const std::string& sourcePath;
    int runPosition;
    const TagRecord* tags = nullptr;  // the source's tags when they do not come from its file (a CUE track's)
};

// What a plan decides: the writer with its options, the PCM it takes (the loop mixes channels, by MonoType
// for stereo to mono, and converts rate and width to get there), its tags and the gain.
struct WriterPlan {
    std::unique_ptr<AudioWriter> writer;
    PcmFormat format;
    TagRecord tags;
    bool amplify = false;
    float gain = 1.0f;
    int refusedRate = 0;  // the source's rate the format cannot hold, brought to format.rate
};

// The frames an output may decode to for `expected` frames of source at the output's rate.
struct FrameSpan {
    uint64_t min = 0;
    uint64_t max = 0;
};
// What a length rule knows of one output.
struct LengthFacts {
    uint64_t expected = 0;  // the source's frames at the output's rate
    int outputRate = 0;
    bool resampled = false;   // a resampled output may be two frames off either way
    bool encoderTag = false;  // the output carries its encoder's delay and padding (the format's encoderTag)
};
// expected .. expected + above, widened by two frames either way when resampled.
FrameSpan Around(const LengthFacts& facts, uint64_t above);

// The controls -b, --rate, --channels and --quality set, and the switches around them, by option name ("" when
// the format has none).
struct FormatControls {
    const char* automatic = "";  // the switch the controls turn off
    const char* bitrate = "";
    int32_t bitrateScale = 1;    // stored units per kbit/s
    const char* rate = "";
    const char* channels = "";
    int32_t mono = 1, stereo = 2;  // stored values of 1 and 2 channels
    const char* quality = "";
    const char* qualitySwitch = "";  // 1 for the quality mode, 0 for the bit-rate mode (MP3's 2, ABR, is one too)
    const char* amplify = "";
    const char* gain = "";
    const char* tagType = "";
    const char* copyCover = "";
    unsigned keepsAuto = 0;  // controls (bits by FormatControl) that leave the automatic switch on
};
enum class FormatControl { BitRate, Rate, Channels, Quality };
constexpr unsigned Keeps(FormatControl c) { return 1u << static_cast<unsigned>(c); }

// The options one or more output formats share (M4A's serve MP4, M4B and ALAC too). Descriptors and their
// options are constants, so that they are whole before any static registration.
struct FormatOptions {
    const char* title;       // "MP3", "M4A/MP4/M4B": how its options' meanings name it
    std::span<const NumberRow> numbers;
    std::span<const TextRow> texts;
    const char* tagGroup;    // "MP3" for [Options/MP3Tag] and -s MP3Tag.Artist; null without custom tags
    TagsRef tags;            // the custom tags; null without
    FormatControls controls;
};

// Which pictures a format's tags hold.
enum class PictureRule { Any, CovrKinds };

struct OutputFormatDescriptor {
    int32_t code;             // the stored OutputFormat
    const char* name;         // -f and -s OutputFormat=
    const char* extension;    // without the dot
    // Rows in the window's list: a label (null: the upper-cased extension) and its place among all rows
    // (-1: no row). Registered formats follow the built-in rows.
    struct ListRow {
        const char* label = nullptr;
        int position = -1;
    };
    ListRow listRows[2];
    bool lossless;
    int maxChannels;          // the most channels an output holds
    bool tags;                // holds tags (--tag and the format's tag options)
    const FormatOptions* options;
    // Tags: only the ID3v1 fields survive (null: never); which pictures it holds.
    bool (*id3v1Only)(const ConvertSettings&) = nullptr;
    PictureRule pictures = PictureRule::Any;
    // Verification: the frames the output may decode to (null: exactly the source's); the input format its
    // output is read back as (0: by its extension).
    FrameSpan (*length)(const LengthFacts&) = nullptr;
    bool (*encoderTag)(const std::string& outputPath) = nullptr;
    // True when every sample must equal the source's where the formats match (null: lengths only).
    bool (*exactSamples)(const ConvertSettings&) = nullptr;
    uint16_t readAs = 0;
    // False when the format cannot be written now (null: always can).
    bool (*available)() = nullptr;
    // The rendering rate asked of module and MIDI readers.
    int (*rateHint)(const ConvertSettings&) = nullptr;
    // False when the format has nothing for this source.
    bool (*plan)(const PlanInput&, WriterPlan&) = nullptr;
};

// A format that differs from base only in its code, names and list row (the MP4 family, AMR-WB).
constexpr OutputFormatDescriptor Sibling(OutputFormatDescriptor base, int32_t code, const char* name,
                                         const char* extension, OutputFormatDescriptor::ListRow row) {
    base.code = code;
    base.name = name;
    base.extension = extension;
    base.listRows[0] = row;
    base.listRows[1] = {};
    return base;
}

// Every output format: the built-in ones, then those registered, in order.
const std::vector<const OutputFormatDescriptor*>& OutputFormatList();
// Adds a format (before the first use of the list; a test's or a plug-in's). Its code, name and extension are
// its own: false when one is taken.
bool RegisterOutputFormat(const OutputFormatDescriptor& format);
// The descriptor of a code, or null.
const OutputFormatDescriptor* FindOutputFormat(int32_t code);
// The code of a -f name (any letter case), or 0.
int32_t OutputFormatFromName(std::string_view name);
// Every format name, in order.
std::vector<std::string> OutputFormatNames();
// Extension with its dot (".mp3"), or "" for an unknown code.
std::string OutputExtension(int32_t code);
// True when ext (with its dot, any case) is the extension of an output format.
bool IsOutputExtension(std::string_view ext);
// Short name used in run texts ("MP3"), or "" for an unknown code.
std::string OutputFormatName(int32_t code);

// One row of the window's format list.
struct FormatListRow {
    int32_t code;
    std::string label;  // "MP3", "AAC for iPod / iTunes"
};
std::vector<FormatListRow> FormatListRows();
// Index of the row selected for a stored code (the later of two matches), -1 when none matches.
int FormatListRowIndex(int32_t code);

// One output format as --list-formats shows it.
struct OutputFormatInfo {
    std::string name;
    std::vector<std::string> extensions;  // without the dot
    bool lossless = false;
    int maxChannels = 0;
    bool tags = false;
    std::string label;  // the label of its last row in the window's list
};
std::vector<OutputFormatInfo> OutputFormats();

// Rules plans share.
// Gain from a record's amplify switch and coefficient: on when the switch is set and the coefficient is not 100.
void SetGain(WriterPlan& plan, const FormatSettings& format);
// The tags of a record's tag type, custom tags and cover switch for this source (ChooseTags; copyRawId3: an
// MP3 source's own ID3 blocks may travel whole).
TagChoice PlanTags(const PlanInput& input, const FormatSettings& format, bool copyRawId3 = false);
// The format of a lossless writer. rate and channels: what the options ask, 0 for the source's; bits: 0 for
// the source's width, else 8, 16, 24 or 32, held to maxBits; maxChannels: what the format stores (more are
// mixed down to stereo).
void PlanLossless(const PlanInput& input, int rate, int channels, int bits, int maxBits, int maxChannels,
                  WriterPlan& plan);
// The source as a lossy writer takes it: its rate, at most maxChannels channels (more are mixed down to stereo),
// 16 bits.
constexpr PcmFormat LossyInput(const PcmFormat& source, int maxChannels = 2) {
    return {source.rate, source.channels <= maxChannels ? source.channels : 2, 16};
}

// The built-in formats' descriptors (formats/<Format>.cpp).
extern const OutputFormatDescriptor kMp3Format, kWavFormat, kWmaFormat, kOggFormat, kAacFormat, kM4aFormat,
    kMp4Format, kM4bFormat, kAmrFormat, kAwbFormat, kFlacFormat, kOpusFormat, kAlacFormat;

}  // namespace pelloran
