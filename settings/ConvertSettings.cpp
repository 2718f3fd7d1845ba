#include "settings/ConvertSettings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "media/PcmFormat.h"
#include "media/TagRecord.h"
#include "platform/Paths.h"
#include "platform/registry.h"

namespace pelloran {

// Lossless writers hold every channel of the wide path; the others take one or two (AMR one).
constexpr OutputFormatRow kOutputFormatTable[] = {
    // code, CLI name, extension, label, lossless, most channels, tags
    {kOutputMp3,  "mp3",  "mp3",  nullptr,                  false, 2,                true},
    {kOutputWav,  "wav",  "wav",  nullptr,                  true,  kMaxWideChannels, false},
    {kOutputWma,  "wma",  "wma",  nullptr,                  false, 2,                true},
    {kOutputOgg,  "ogg",  "ogg",  nullptr,                  false, 2,                true},
    {kOutputAac,  "aac",  "aac",  nullptr,                  false, 2,                false},
    {kOutputM4a,  "m4a",  "m4a",  "AAC for iPod / iTunes",  false, 2,                true},
    {kOutputMp4,  "mp4",  "mp4",  "MP4 (Audio only)",       false, 2,                true},
    {kOutputM4a,  "m4a",  "m4a",  "M4A (MPEG-4 Audio)",     false, 2,                true},
    {kOutputM4b,  "m4b",  "m4b",  "M4B (MPEG-4 Audiobook)", false, 2,                true},
    {kOutputAmr,  "amr",  "amr",  nullptr,                  false, 1,                false},
    {kOutputAwb,  "awb",  "awb",  nullptr,                  false, 1,                false},
    {kOutputFlac, "flac", "flac", nullptr,                  true,  kMaxWideChannels, true},
    {kOutputOpus, "opus", "opus", "Opus",                   false, 2,                true},
    {kOutputAlac, "alac", "m4a",  "ALAC (Apple Lossless)",  true,  kMaxWideChannels, true},
    {-1, nullptr, nullptr, nullptr, false, 0, false},
};

namespace {

constexpr size_t kRowCount = [] {
    size_t n = 0;
    while (kOutputFormatTable[n].code != -1) ++n;
    return n;
}();

constexpr bool SameText(const char* a, const char* b) { return std::string_view(a) == std::string_view(b); }

// True for the first row of its name: the row that stands for the format in every list but the window's.
constexpr bool FirstOfName(size_t i) {
    for (size_t j = 0; j < i; ++j)
        if (SameText(kOutputFormatTable[j].name, kOutputFormatTable[i].name)) return false;
    return true;
}

constexpr size_t kFormatCount = [] {
    size_t n = 0;
    for (size_t i = 0; i < kRowCount; ++i) n += FirstOfName(i) ? 1 : 0;
    return n;
}();

// One name is one code, and its rows differ only in label and extension.
constexpr bool RowsAgree() {
    for (size_t i = 0; i < kRowCount; ++i) {
        for (size_t j = 0; j < i; ++j) {
            const OutputFormatRow& a = kOutputFormatTable[i];
            const OutputFormatRow& b = kOutputFormatTable[j];
            const bool sameName = SameText(a.name, b.name);
            if (sameName != (a.code == b.code)) return false;
            if (sameName && (a.lossless != b.lossless || a.maxChannels != b.maxChannels || a.tags != b.tags))
                return false;
        }
    }
    return true;
}
static_assert(RowsAgree(), "rows of one output format disagree");

std::string RowLabel(const OutputFormatRow& row) {
    return row.label != nullptr ? std::string(row.label) : ToUpperAscii(row.extension);
}

const OutputFormatRow* RowForCode(int32_t code) {
    for (const OutputFormatRow* row = kOutputFormatTable; row->code != -1; ++row) {
        if (row->code == code) return row;
    }
    return nullptr;
}

// Load checks.
int32_t CheckNone(int32_t v) { return v; }
int32_t CheckCoeff(int32_t v) { return std::clamp(v, 10, 3000); }
int32_t CheckMp3ChannelMode(int32_t v) { return (v == 0 || v == 1 || v == 3 || v == 4) ? v : 1; }
int32_t CheckZeroOneTwo(int32_t v) { return (v == 0 || v == 1 || v == 2) ? v : 2; }
// Tag types: 3 (merge) is kept; other values beyond 0..2 mean no tags.
int32_t CheckTagType(int32_t v) { return (v >= 0 && v <= 3) ? v : 2; }
int32_t CheckOneTwo(int32_t v) { return (v == 1 || v == 2) ? v : 2; }
int32_t CheckOggBitRate(int32_t v) { return v > 1000 ? v / 1000 : v; }

// The values a numeric option may hold: a span, or a list of codes.
struct Range {
    int32_t min = INT32_MIN;
    int32_t max = INT32_MAX;
    const int32_t* codes = nullptr;
    size_t codeCount = 0;

    bool Contains(int32_t v) const {
        if (codes == nullptr) return v >= min && v <= max;
        return std::find(codes, codes + codeCount, v) != codes + codeCount;
    }
    std::string Text() const {
        if (codes == nullptr) return std::to_string(min) + " to " + std::to_string(max);
        std::string text;
        for (size_t i = 0; i < codeCount; ++i) {
            if (i > 0) text += i + 1 == codeCount ? " or " : ", ";
            text += std::to_string(codes[i]);
        }
        return text;
    }
};

constexpr Range Span(int32_t min, int32_t max) { return Range{min, max, nullptr, 0}; }
template <size_t N>
constexpr Range Codes(const int32_t (&codes)[N]) {
    return Range{0, 0, codes, N};
}
template <size_t N>
constexpr Range Codes(const std::array<int32_t, N>& codes) {
    return Range{0, 0, codes.data(), N};
}

constexpr int32_t kPlaceCodes[] = {kOutputBesideSource, kOutputIntoFolder};
constexpr int32_t kPolicyCodes[] = {kTargetRename, kTargetOverwrite, kTargetSkip};
// The OutputFormat option's range: each format's code, in the table's order.
constexpr auto kFormatCodes = [] {
    std::array<int32_t, kFormatCount> codes{};
    size_t n = 0;
    for (size_t i = 0; i < kRowCount; ++i)
        if (FirstOfName(i)) codes[n++] = kOutputFormatTable[i].code;
    return codes;
}();
constexpr int32_t kMp3ChannelModes[] = {0, 1, 3, 4};
constexpr int32_t kWavWidths[] = {0, 8, 16, 24, 32};
constexpr int32_t kFlacWidths[] = {0, 16, 24};

constexpr Range kSwitch = Span(0, 1);
constexpr Range kTagType = Span(0, 3);  // 3: the source's tags with the custom fields on top
constexpr Range kGain = Span(10, 3000);
constexpr Range kFreeGain = Span(1, 100000);  // not clamped on load, but never zero or negative
constexpr Range kRate = Span(0, 384000);      // Hz; 0 follows the source

// Names a stored code may be given by (-s TargetExistsOpt=skip).
struct CodeName {
    const char* name;
    int32_t value;
};
struct CodeNames {
    const CodeName* names = nullptr;
    size_t count = 0;
};
template <size_t N>
constexpr CodeNames Named(const CodeName (&names)[N]) {
    return CodeNames{names, N};
}
template <size_t N>
constexpr CodeNames Named(const std::array<CodeName, N>& names) {
    return CodeNames{names.data(), N};
}

constexpr CodeName kSwitchList[] = {{"off", 0}, {"on", 1}, {"no", 0}, {"yes", 1}, {"false", 0}, {"true", 1}};
constexpr CodeName kPlaceList[] = {{"beside", kOutputBesideSource}, {"folder", kOutputIntoFolder}};
constexpr CodeName kPolicyList[] = {{"rename", kTargetRename}, {"overwrite", kTargetOverwrite}, {"skip", kTargetSkip}};
constexpr CodeName kMonoList[] = {{"mix", kMonoMix}, {"left", kMonoLeft}, {"right", kMonoRight}};
// The names -s OutputFormat= and -f take, as kFormatCodes.
constexpr auto kFormatList = [] {
    std::array<CodeName, kFormatCount> names{};
    size_t n = 0;
    for (size_t i = 0; i < kRowCount; ++i)
        if (FirstOfName(i)) names[n++] = {kOutputFormatTable[i].name, kOutputFormatTable[i].code};
    return names;
}();
constexpr CodeName kMp3ModeList[] = {{"stereo", 0}, {"joint", 1}, {"mono", 3}, {"source", 4}};
constexpr CodeName kTagTypeList[] = {{"custom", 0}, {"source", 1}, {"none", 2}, {"merge", 3}};
constexpr CodeName kId3VersionList[] = {{"v1", 0}, {"v2", 1}, {"both", 2}};
constexpr CodeName kMpegList[] = {{"mpeg4", 0}, {"mpeg2", 1}};
constexpr CodeName kBlockList[] = {{"normal", 0}, {"noshort", 1}, {"nolong", 2}};
constexpr CodeName kAmrTypeList[] = {{"nb", 0}, {"wb", 1}};
constexpr CodeName kSourceList[] = {{"source", 0}};
constexpr CodeName kMp3EncodeList[] = {{"cbr", 0}, {"vbr", 1}, {"abr", 2}};
constexpr CodeName kOggEncodeList[] = {{"bitrate", 0}, {"quality", 1}};
constexpr CodeName kOpusModeList[] = {{"vbr", 0}, {"cvbr", 1}, {"cbr", 2}};
constexpr CodeName kM4aCodecList[] = {{"aac", 0}, {"alac", 1}};

constexpr CodeNames kNoNames{};
constexpr CodeNames kSwitchNames = Named(kSwitchList);
constexpr CodeNames kPlaceNames = Named(kPlaceList);
constexpr CodeNames kPolicyNames = Named(kPolicyList);
constexpr CodeNames kMonoNames = Named(kMonoList);
constexpr CodeNames kFormatNames = Named(kFormatList);
constexpr CodeNames kMp3ModeNames = Named(kMp3ModeList);
constexpr CodeNames kTagTypeNames = Named(kTagTypeList);
constexpr CodeNames kId3VersionNames = Named(kId3VersionList);
constexpr CodeNames kMpegNames = Named(kMpegList);
constexpr CodeNames kBlockNames = Named(kBlockList);
constexpr CodeNames kAmrTypeNames = Named(kAmrTypeList);
constexpr CodeNames kSourceNames = Named(kSourceList);
constexpr CodeNames kMp3EncodeNames = Named(kMp3EncodeList);
constexpr CodeNames kOggEncodeNames = Named(kOggEncodeList);
constexpr CodeNames kOpusModeNames = Named(kOpusModeList);
constexpr CodeNames kM4aCodecNames = Named(kM4aCodecList);

struct NumberField {
    const char* name;
    int32_t ConvertSettings::*member;
    int group;
    int32_t (*check)(int32_t);
    Range range;
    CodeNames names;
    const char* meaning;
};

struct TextField {
    const char* name;
    std::string ConvertSettings::*member;
    int group;
    const char* meaning;
};

// Every numeric option in load order, with its save group and load check.
constexpr NumberField kNumberFields[] = {
    {"DestOutputFolderOpt", &ConvertSettings::DestOutputFolderOpt, kSaveOptionsGroup, CheckNone, Codes(kPlaceCodes), kPlaceNames,
     "where output goes: folder (DestSpecifiedFolder) or beside the source"},
    {"CreateDirs", &ConvertSettings::CreateDirs, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "rebuild the source's folder path under the output folder"},
    {"BrowseOutputFolder", &ConvertSettings::BrowseOutputFolder, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "show the first output file in the file manager after a run"},
    {"OutputFiles2MyDocuments", &ConvertSettings::OutputFiles2MyDocuments, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "when the output folder or file cannot be made, retry in the documents folder"},
    {"TargetExistsOpt", &ConvertSettings::TargetExistsOpt, kSaveOptionsGroup, CheckNone, Codes(kPolicyCodes), kPolicyNames,
     "when the output file exists: rename (name_1), overwrite or skip"},
    {"MonoType", &ConvertSettings::MonoType, kSaveOptionsGroup, CheckNone, Span(kMonoMix, kMonoRight), kMonoNames,
     "stereo to mono: mix both channels, keep the left or keep the right"},
    {"EnableExtFilter", &ConvertSettings::EnableExtFilter, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "take only files whose extension is in FilterExts (dropped files, folder scans)"},
    {"ParallelJobs", &ConvertSettings::ParallelJobs, kSaveOptionsGroup, CheckNone, Span(1, 64), kNoNames,
     "files the window converts at once (default: the number of processors)"},
    {"OutputFormat", &ConvertSettings::OutputFormat, kSaveFormatGroup, CheckNone, Codes(kFormatCodes), kFormatNames,
     "output format"},
    {"AutoDestMP3EncodingParam", &ConvertSettings::AutoDestMP3EncodingParam, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "MP3: bit rate, rate and channel mode follow the source"},
    {"MP3BitRate", &ConvertSettings::MP3BitRate, kSaveOptionsGroup, CheckNone, Span(0, 320), kSourceNames,
     "MP3: kbit/s (0 follows the source)"},
    {"MP3SampleRate", &ConvertSettings::MP3SampleRate, kSaveOptionsGroup, CheckNone, Span(0, 48000), kSourceNames,
     "MP3: Hz (0 follows the source)"},
    {"MP3ChannelMode", &ConvertSettings::MP3ChannelMode, kSaveOptionsGroup, CheckMp3ChannelMode, Codes(kMp3ChannelModes), kMp3ModeNames,
     "MP3: stereo, joint stereo, mono or as the source"},
    {"AutoDestWAVEncodingParam", &ConvertSettings::AutoDestWAVEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WAV: rate, channels and width as the source"},
    {"WAVBitsPerSample", &ConvertSettings::WAVBitsPerSample, kSaveOptionsGroup, CheckNone, Codes(kWavWidths), kSourceNames,
     "WAV: bits per sample (0 as the source, 24-bit and 32-bit sources included)"},
    {"WAVSampleRate", &ConvertSettings::WAVSampleRate, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "WAV: Hz (0 as the source)"},
    {"WAVChannelNum", &ConvertSettings::WAVChannelNum, kSaveOptionsGroup, CheckZeroOneTwo, Span(0, 2), kSourceNames,
     "WAV: channels (0 as the source)"},
    {"AutoDestWMAEncodingParam", &ConvertSettings::AutoDestWMAEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WMA: profile chosen from the source"},
    {"WMABitRate", &ConvertSettings::WMABitRate, kSaveOptionsGroup, CheckNone, Span(0, 768000), kNoNames, "WMA: bit/s"},
    {"WMASampleRate", &ConvertSettings::WMASampleRate, kSaveOptionsGroup, CheckNone, Span(0, 192000), kNoNames,
     "WMA: Hz"},
    {"WMAChannels", &ConvertSettings::WMAChannels, kSaveOptionsGroup, CheckOneTwo, Span(1, 2), kNoNames,
     "WMA: channels"},
    {"WMAID3TagType", &ConvertSettings::WMAID3TagType, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "WMA tags: custom (WMATag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"AmplifyWMA", &ConvertSettings::AmplifyWMA, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WMA: amplify by AmplifyWMACoeff"},
    {"AmplifyWMACoeff", &ConvertSettings::AmplifyWMACoeff, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "WMA: gain in percent"},
    {"AutoDestOGGEncodingParam", &ConvertSettings::AutoDestOGGEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Ogg: rate and channels follow the source, bit rate from the rate"},
    {"OGGBitRate", &ConvertSettings::OGGBitRate, kSaveOptionsGroup, CheckOggBitRate, Span(0, 1000), kSourceNames,
     "Ogg: kbit/s (0 follows the source)"},
    {"OGGSampleRate", &ConvertSettings::OGGSampleRate, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "Ogg: Hz (0 as the source)"},
    {"OGGChannels", &ConvertSettings::OGGChannels, kSaveOptionsGroup, CheckZeroOneTwo, Span(0, 2), kSourceNames,
     "Ogg: channels (0 as the source)"},
    {"OGGID3TagType", &ConvertSettings::OGGID3TagType, kSaveOptionsGroup, CheckNone, kTagType, kTagTypeNames,
     "Ogg tags: custom (OGGTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"OGGEncodeMode", &ConvertSettings::OGGEncodeMode, kSaveOptionsGroup, CheckNone, kSwitch, kOggEncodeNames,
     "Ogg: nominal bit rate (OGGBitRate) or quality (OGGQuality)"},
    {"OGGQuality", &ConvertSettings::OGGQuality, kSaveOptionsGroup, CheckNone, Span(-1, 10), kNoNames,
     "Ogg: quality of the quality mode, -1 (nominally 45 kbit/s for stereo) to 10 (nominally 500); 5 is 160"},
    {"AmplifyOGG", &ConvertSettings::AmplifyOGG, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Ogg: amplify by AmplifyOGGCoeff"},
    {"AmplifyOGGCoeff", &ConvertSettings::AmplifyOGGCoeff, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "Ogg: gain in percent"},
    {"AutoDestAACEncodingParam", &ConvertSettings::AutoDestAACEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: encoder defaults"},
    {"AACVBR", &ConvertSettings::AACVBR, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: quality mode (on) or average bit rate (off)"},
    {"AACVBRQuality", &ConvertSettings::AACVBRQuality, kSaveOptionsGroup, CheckNone, Span(10, 500), kNoNames,
     "AAC: quality of the quality mode, 10 (about 23 kbit/s for stereo) to 500 (about 240); 100 is about 120"},
    {"AACABRBitRate", &ConvertSettings::AACABRBitRate, kSaveOptionsGroup, CheckNone, Span(8, 576), kNoNames,
     "AAC: kbit/s of the average bit rate mode"},
    {"AACMpegVersion", &ConvertSettings::AACMpegVersion, kSaveOptionsGroup, CheckNone, kSwitch, kMpegNames,
     "AAC: MPEG-4 or MPEG-2 headers"},
    {"AACEnableTNS", &ConvertSettings::AACEnableTNS, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: temporal noise shaping"},
    {"AACEnableMidside", &ConvertSettings::AACEnableMidside, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: mid/side coding"},
    {"AACBlockType", &ConvertSettings::AACBlockType, kSaveOptionsGroup, CheckNone, Span(0, 2), kBlockNames,
     "AAC: block switching: normal, no short blocks, no long blocks"},
    {"AmplifyAAC", &ConvertSettings::AmplifyAAC, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: amplify by AmplifyAACCoef"},
    {"AmplifyAACCoef", &ConvertSettings::AmplifyAACCoef, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "AAC: gain in percent"},
    {"AutoDestM4AEncodingParam", &ConvertSettings::AutoDestM4AEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: encoder defaults"},
    {"M4AVBR", &ConvertSettings::M4AVBR, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: quality mode (on) or average bit rate (off)"},
    {"M4AVBRQuality", &ConvertSettings::M4AVBRQuality, kSaveOptionsGroup, CheckNone, Span(10, 500), kNoNames,
     "M4A/MP4/M4B: quality of the quality mode, 10 (about 23 kbit/s for stereo) to 500 (about 240); 100 is about 120"},
    {"M4AABRBitRate", &ConvertSettings::M4AABRBitRate, kSaveOptionsGroup, CheckNone, Span(8, 576), kNoNames,
     "M4A/MP4/M4B: kbit/s of the average bit rate mode"},
    {"M4AEnableTNS", &ConvertSettings::M4AEnableTNS, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: temporal noise shaping"},
    {"M4AEnableMidside", &ConvertSettings::M4AEnableMidside, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: mid/side coding"},
    {"M4ABlockType", &ConvertSettings::M4ABlockType, kSaveOptionsGroup, CheckNone, Span(0, 2), kBlockNames,
     "M4A/MP4/M4B: block switching: normal, no short blocks, no long blocks"},
    {"AmplifyM4A", &ConvertSettings::AmplifyM4A, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: amplify by AmplifyM4ACoef"},
    {"AmplifyM4ACoef", &ConvertSettings::AmplifyM4ACoef, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "M4A/MP4/M4B: gain in percent"},
    {"M4AID3TagType", &ConvertSettings::M4AID3TagType, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "M4A/MP4/M4B tags: custom (M4ATag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"M4ACodec", &ConvertSettings::M4ACodec, kSaveOptionsGroup, CheckNone, kSwitch, kM4aCodecNames,
     "M4A/MP4/M4B: AAC, or ALAC (lossless, the source's rate, channels and width)"},
    {"FLACCompression", &ConvertSettings::FLACCompression, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "FLAC: compression level, 0 fastest to 8 smallest"},
    {"FLACSampleRate", &ConvertSettings::FLACSampleRate, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "FLAC: Hz (0 as the source)"},
    {"FLACChannels", &ConvertSettings::FLACChannels, kSaveOptionsGroup, CheckNone, Span(0, 2), kSourceNames,
     "FLAC: channels (0 as the source, every channel of a surround source)"},
    {"FLACBitsPerSample", &ConvertSettings::FLACBitsPerSample, kSaveOptionsGroup, CheckNone, Codes(kFlacWidths), kSourceNames,
     "FLAC: bits per sample (0 as the source, at most 24)"},
    {"FLACID3TagType", &ConvertSettings::FLACID3TagType, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "FLAC tags: custom (FLACTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"AmplifyFLAC", &ConvertSettings::AmplifyFLAC, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "FLAC: amplify by AmplifyFLACCoeff"},
    {"AmplifyFLACCoeff", &ConvertSettings::AmplifyFLACCoeff, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "FLAC: gain in percent"},
    {"AutoDestOpusEncodingParam", &ConvertSettings::AutoDestOpusEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Opus: bit rate by the channels (128 kbit/s stereo, 64 mono)"},
    {"OpusBitRate", &ConvertSettings::OpusBitRate, kSaveOptionsGroup, CheckNone, Span(6, 510), kNoNames,
     "Opus: kbit/s"},
    {"OpusMode", &ConvertSettings::OpusMode, kSaveOptionsGroup, CheckNone, Span(0, 2), kOpusModeNames,
     "Opus: variable, constrained variable or constant bit rate"},
    {"OpusComplexity", &ConvertSettings::OpusComplexity, kSaveOptionsGroup, CheckNone, Span(0, 10), kNoNames,
     "Opus: encoder complexity, 0 fastest to 10 best"},
    {"OpusChannels", &ConvertSettings::OpusChannels, kSaveOptionsGroup, CheckNone, Span(0, 2), kSourceNames,
     "Opus: channels (0 as the source)"},
    {"OpusID3TagType", &ConvertSettings::OpusID3TagType, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "Opus tags: custom (OpusTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"AmplifyOpus", &ConvertSettings::AmplifyOpus, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Opus: amplify by AmplifyOpusCoeff"},
    {"AmplifyOpusCoeff", &ConvertSettings::AmplifyOpusCoeff, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "Opus: gain in percent"},
    {"AMRMode", &ConvertSettings::AMRMode, kSaveOptionsGroup, CheckNone, Span(0, 7), kNoNames,
     "AMR-NB mode (6 is 10.2 kbit/s)"},
    {"AMRWBMode", &ConvertSettings::AMRWBMode, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "AMR-WB mode for .amr output when AMRType is wide-band"},
    {"AMRDTX", &ConvertSettings::AMRDTX, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR: discontinuous transmission for .amr output"},
    {"AMRType", &ConvertSettings::AMRType, kSaveOptionsGroup, CheckNone, kSwitch, kAmrTypeNames,
     ".amr output: narrow-band 8 kHz or wide-band 16 kHz"},
    {"AWBMode", &ConvertSettings::AWBMode, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "AMR-WB mode for .awb output"},
    {"AWBDTX", &ConvertSettings::AWBDTX, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR-WB: discontinuous transmission for .awb output"},
    {"AmplifyAMR", &ConvertSettings::AmplifyAMR, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR: amplify by AmplifyAMRCoef"},
    {"AmplifyAMRCoef", &ConvertSettings::AmplifyAMRCoef, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "AMR: gain in percent"},
    {"MP3ID3TagType", &ConvertSettings::MP3ID3TagType, kSaveOptionsGroup, CheckNone, kTagType, kTagTypeNames,
     "MP3 tags: custom (MP3Tag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"MP3WriteID3Version", &ConvertSettings::MP3WriteID3Version, kSaveOptionsGroup, CheckNone, Span(0, 2), kId3VersionNames,
     "MP3: ID3v1 only, ID3v2 only, or both"},
    {"MP3EncodeMode", &ConvertSettings::MP3EncodeMode, kSaveOptionsGroup, CheckNone, Span(0, 2), kMp3EncodeNames,
     "MP3: constant bit rate, VBR by quality (MP3VbrQuality) or average bit rate (MP3BitRate)"},
    {"MP3VbrQuality", &ConvertSettings::MP3VbrQuality, kSaveOptionsGroup, CheckNone, Span(0, 9), kNoNames,
     "MP3: VBR quality V0 (best, about 245 kbit/s) to V9 (about 65); V2 is about 190"},
    {"MP3WriteInfoTag", &ConvertSettings::MP3WriteInfoTag, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "MP3: a Xing/LAME frame with the length and the encoder delay (always written for VBR and ABR)"},
    {"AmplifyMp3", &ConvertSettings::AmplifyMp3, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "MP3: amplify by AmplifyMp3Coeff"},
    {"AmplifyMp3Coeff", &ConvertSettings::AmplifyMp3Coeff, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "MP3: gain in percent"},
    {"AmplifyWav", &ConvertSettings::AmplifyWav, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WAV: amplify by AmplifyWavCoeff"},
    {"AmplifyWavCoeff", &ConvertSettings::AmplifyWavCoeff, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "WAV: gain in percent"},
    {"OptStartPageIndex", &ConvertSettings::OptStartPageIndex, kSaveFormatGroup, CheckNone, Span(0, 15), kNoNames,
     "the options page shown first"},
    {"MP3CopyCover", &ConvertSettings::MP3CopyCover, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "MP3: copy the source's cover art (APIC) with its tags"},
    {"OGGCopyCover", &ConvertSettings::OGGCopyCover, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Ogg: copy the source's cover art (METADATA_BLOCK_PICTURE) with its tags"},
    {"WMACopyCover", &ConvertSettings::WMACopyCover, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WMA: copy the source's cover art (WM/Picture) with its tags"},
    {"M4ACopyCover", &ConvertSettings::M4ACopyCover, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: copy the source's cover art (covr) with its tags"},
    {"FLACCopyCover", &ConvertSettings::FLACCopyCover, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "FLAC: copy the source's cover art (picture blocks) with its tags"},
    {"OpusCopyCover", &ConvertSettings::OpusCopyCover, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Opus: copy the source's cover art (METADATA_BLOCK_PICTURE) with its tags"},
    {"VerifyOutput", &ConvertSettings::VerifyOutput, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "decode each output again and compare its length (a WAV's samples too) with the source's"},
};

constexpr TextField kTextFields[] = {
    {"Folder", &ConvertSettings::Folder, kSaveFolderGroup, "the folder last chosen with Add Folder"},
    {"DestSpecifiedFolder", &ConvertSettings::DestSpecifiedFolder, kSaveOptionsGroup, "the chosen output folder"},
    {"FilterExts", &ConvertSettings::FilterExts, kSaveOptionsGroup, "comma-separated extensions of EnableExtFilter"},
    {"OutputNamePattern", &ConvertSettings::OutputNamePattern, kSaveOptionsGroup,
     "output names from tags: {artist}/{album}/{track:02} - {title}; empty keeps the source's name"},
};

struct TagNumberField {
    const char* name;
    int32_t TagSettings::*member;
    Range range;
};
struct TagTextField {
    const char* name;
    std::string TagSettings::*member;
};

constexpr TagTextField kTagTexts[] = {
    {"Title", &TagSettings::Title},     {"Artist", &TagSettings::Artist},   {"Album", &TagSettings::Album},
    {"Year", &TagSettings::Year},       {"Genre", &TagSettings::Genre},     {"Comment", &TagSettings::Comment},
    {"Composer", &TagSettings::Composer}, {"Copyright", &TagSettings::Copyright},
};
constexpr TagNumberField kTagNumbers[] = {
    {"TitleAsFileName", &TagSettings::TitleAsFileName, kSwitch},
    {"TrackNumType", &TagSettings::TrackNumType, Span(0, 2)},
    {"CustomTrackNum", &TagSettings::CustomTrackNum, Span(0, 255)},
};

struct TagGroup {
    const char* prefix;
    TagSettings ConvertSettings::*member;
};
constexpr TagGroup kTagGroups[] = {
    {"MP3", &ConvertSettings::MP3Tag},
    {"OGG", &ConvertSettings::OGGTag},
    {"WMA", &ConvertSettings::WMATag},
    {"M4A", &ConvertSettings::M4ATag},
    {"FLAC", &ConvertSettings::FLACTag},
    {"Opus", &ConvertSettings::OpusTag},
};

std::string TagKey(const char* prefix) { return std::string(kOptionsKey) + "\\" + prefix + "Tag"; }

void LoadTagSettings(TagSettings& tags, const RegistryStore& store, const std::string& key) {
    if (!store.KeyExists(key)) return;
    for (const auto& f : kTagTexts) tags.*f.member = store.ReadText(key, f.name).value_or(std::string{});
    for (const auto& f : kTagNumbers) {
        if (auto v = store.ReadNumber(key, f.name); v && f.range.Contains(*v)) tags.*f.member = *v;
    }
}

bool ParseNumber(std::string_view text, int32_t& value) {
    const std::string s(text);
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

}  // namespace

std::string OutputFormatRowText(const OutputFormatRow& row) { return " to " + RowLabel(row); }

int OutputFormatRowIndex(int32_t code) {
    int found = -1;
    for (int i = 0; kOutputFormatTable[i].code != -1; ++i) {
        if (kOutputFormatTable[i].code == code) found = i;
    }
    return found;
}

std::string OutputExtension(int32_t code) {
    const OutputFormatRow* row = RowForCode(code);
    if (row == nullptr) return {};
    std::string extension = ".";
    extension += row->extension;
    return extension;
}

bool IsOutputExtension(std::string_view ext) {
    if (ext.size() < 2 || ext.front() != '.') return false;
    for (const OutputFormatRow* row = kOutputFormatTable; row->code != -1; ++row) {
        if (EqualsIgnoreCase(ext.substr(1), row->extension)) return true;
    }
    return false;
}

std::string OutputFormatName(int32_t code) {
    const OutputFormatRow* row = RowForCode(code);
    return row == nullptr ? std::string{} : ToUpperAscii(row->name);
}

int32_t OutputFormatFromName(std::string_view name) {
    for (const CodeName& format : kFormatList) {
        if (EqualsIgnoreCase(name, format.name)) return format.value;
    }
    return 0;
}

std::vector<std::string> OutputFormatNames() {
    std::vector<std::string> names;
    for (const CodeName& format : kFormatList) names.emplace_back(format.name);
    return names;
}

std::vector<OutputFormatInfo> OutputFormats() {
    std::vector<OutputFormatInfo> formats;
    for (size_t i = 0; i < kRowCount; ++i) {
        const OutputFormatRow& row = kOutputFormatTable[i];
        if (FirstOfName(i)) formats.push_back({row.name, {}, row.lossless, row.maxChannels, row.tags, {}});
        auto info = std::find_if(formats.begin(), formats.end(), [&](const auto& f) { return f.name == row.name; });
        if (std::find(info->extensions.begin(), info->extensions.end(), row.extension) == info->extensions.end())
            info->extensions.emplace_back(row.extension);
        info->label = RowLabel(row);
    }
    return formats;
}

ConvertSettings::ConvertSettings() {
    const std::string documents = DocumentsFolder(true);
    DestOutputFolderOpt = documents.empty() ? kOutputBesideSource : kOutputIntoFolder;
    DestSpecifiedFolder = documents;
}

void LoadSettings(ConvertSettings& settings, const RegistryStore& store, std::vector<std::string>* warnings) {
    if (!store.KeyExists(kOptionsKey)) return;
    const auto warn = [warnings](std::string text) {
        if (warnings != nullptr) warnings->push_back(std::move(text));
    };
    for (const auto& f : kTextFields) {
        if (auto v = store.ReadText(kOptionsKey, f.name)) settings.*f.member = *v;
        else if (store.HasValue(kOptionsKey, f.name)) warn(std::string(f.name) + ": a number where text belongs");
    }
    // Out of range after the load check: the default stays.
    for (const auto& f : kNumberFields) {
        const auto v = store.ReadNumber(kOptionsKey, f.name);
        if (v && f.range.Contains(f.check(*v))) {
            settings.*f.member = f.check(*v);
        } else if (v) {
            warn(std::string(f.name) + ": " + std::to_string(*v) + " is out of range (" + f.range.Text() + ")");
        } else if (store.HasValue(kOptionsKey, f.name)) {
            warn(std::string(f.name) + ": text where a number belongs");
        }
    }
    RebuildExtensionFilter(settings);
    for (const auto& g : kTagGroups) LoadTagSettings(settings.*g.member, store, TagKey(g.prefix));
}

void SaveSettings(const ConvertSettings& settings, int groups, RegistryStore& store) {
    if (groups == 0) return;
    store.CreateKey(kOptionsKey);
    for (const auto& f : kTextFields) {
        if (groups & f.group) store.WriteText(kOptionsKey, f.name, settings.*f.member);
    }
    for (const auto& f : kNumberFields) {
        if (groups & f.group) store.WriteNumber(kOptionsKey, f.name, settings.*f.member);
    }
    if (groups & kSaveOptionsGroup) {
        for (const auto& g : kTagGroups) {
            const std::string key = TagKey(g.prefix);
            const TagSettings& tags = settings.*g.member;
            store.CreateKey(key);
            for (const auto& f : kTagTexts) store.WriteText(key, f.name, tags.*f.member);
            for (const auto& f : kTagNumbers) store.WriteNumber(key, f.name, tags.*f.member);
        }
    }
}

bool CheckFirstRun(RegistryStore& store) {
    const auto firstRun = store.ReadNumber(kOptionsKey, "FirstRun");
    const bool first = !firstRun || *firstRun != 0;
    if (first) store.WriteNumber(kOptionsKey, "FirstRun", 0);
    return first;
}

void RebuildExtensionFilter(ConvertSettings& settings) {
    settings.filterExtList.clear();
    if (settings.EnableExtFilter == 0 || settings.FilterExts.empty()) return;
    const std::string lower = ToLowerAscii(settings.FilterExts);
    size_t start = 0;
    while (true) {
        const size_t comma = lower.find(',', start);
        settings.filterExtList.push_back(lower.substr(start, comma == std::string::npos ? std::string::npos
                                                                                          : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

namespace {

bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoreCase(a, b); }

// Edit distance of two names ignoring case, for "did you mean".
size_t Distance(std::string_view a, std::string_view b) {
    const std::string x = ToLowerAscii(a), y = ToLowerAscii(b);
    std::vector<size_t> row(y.size() + 1);
    for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= x.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= y.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

// Every name -s takes: the options, then the tag fields of each format.
std::vector<std::string> AllNames() {
    std::vector<std::string> names;
    for (const auto& f : kNumberFields) names.emplace_back(f.name);
    for (const auto& f : kTextFields) names.emplace_back(f.name);
    for (const auto& g : kTagGroups) {
        for (const auto& f : kTagTexts) names.push_back(std::string(g.prefix) + "Tag." + f.name);
        for (const auto& f : kTagNumbers) names.push_back(std::string(g.prefix) + "Tag." + f.name);
    }
    return names;
}

std::string UnknownName(std::string_view name) {
    std::string best;
    size_t bestDistance = SIZE_MAX;
    for (const auto& candidate : AllNames()) {
        const size_t d = Distance(name, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    std::string error = "unknown option '" + std::string(name) + "'";
    if (bestDistance <= std::max<size_t>(2, name.size() / 3)) error += "; did you mean '" + best + "'?";
    return error;
}

std::string NamesText(const CodeNames& names) {
    std::string text;
    for (size_t i = 0; i < names.count; ++i) {
        // Switches list one pair of words.
        if (&names.names[0] == &kSwitchList[0] && i >= 2) break;
        if (!text.empty()) text += '|';
        text += names.names[i].name;
    }
    return text;
}

// A number or one of the field's names; refused with the reason otherwise.
bool SetNumber(int32_t& member, const Range& range, const CodeNames& names, std::string_view name,
               std::string_view value, std::string& error) {
    int32_t v = 0;
    bool named = false;
    for (size_t i = 0; i < names.count && !named; ++i) {
        if (SameName(value, names.names[i].name)) {
            v = names.names[i].value;
            named = true;
        }
    }
    if (!named && !ParseNumber(value, v)) {
        error = "'" + std::string(name) + "' needs a number";
        if (names.count > 0) error += " or " + NamesText(names);
        error += ", not '" + std::string(value) + "'";
        return false;
    }
    if (!range.Contains(v)) {
        error = "'" + std::string(name) + "' must be " + range.Text() + ", not " + std::string(value);
        return false;
    }
    member = v;
    return true;
}

}  // namespace

bool SetSettingByName(ConvertSettings& settings, std::string_view name, std::string_view value,
                      std::string& error) {
    const size_t dot = name.find('.');
    if (dot != std::string_view::npos) {
        const std::string_view group = name.substr(0, dot);
        const std::string_view field = name.substr(dot + 1);
        for (const auto& g : kTagGroups) {
            if (!SameName(group, std::string(g.prefix) + "Tag")) continue;
            TagSettings& tags = settings.*g.member;
            for (const auto& f : kTagTexts) {
                if (SameName(field, f.name)) {
                    tags.*f.member = std::string(value);
                    return true;
                }
            }
            for (const auto& f : kTagNumbers) {
                if (SameName(field, f.name)) return SetNumber(tags.*f.member, f.range, kNoNames, name, value, error);
            }
        }
        error = UnknownName(name);
        return false;
    }
    for (const auto& f : kTextFields) {
        if (SameName(name, f.name)) {
            settings.*f.member = std::string(value);
            RebuildExtensionFilter(settings);
            return true;
        }
    }
    for (const auto& f : kNumberFields) {
        if (!SameName(name, f.name)) continue;
        if (!SetNumber(settings.*f.member, f.range, f.names, f.name, value, error)) return false;
        RebuildExtensionFilter(settings);
        return true;
    }
    error = UnknownName(name);
    return false;
}

namespace {

// The option names behind each format's controls; "" where the format has none.
struct FormatControls {
    int32_t formats[4];
    const char* prefix;     // the format's options start with it (also AutoDest<prefix>, Amplify<prefix>)
    const char* automatic;  // the switch the controls turn off
    const char* bitrate;
    int32_t bitrateScale;   // stored units per kbit/s
    const char* rate;
    const char* channels;
    int32_t mono, stereo;   // stored values of 1 and 2 channels
    const char* quality;
    const char* qualitySwitch;  // 1 for the quality mode, 0 for the bit-rate mode (MP3's 2, ABR, is one too)
    const char* amplify;
    const char* tagType;
    // Controls (bits by FormatControl) that leave the automatic switch on, because it does not decide them.
    unsigned keepsAuto = 0;
};

constexpr unsigned Keeps(FormatControl c) { return 1u << static_cast<unsigned>(c); }

constexpr FormatControls kFormatControls[] = {
    {{kOutputMp3}, "MP3", "AutoDestMP3EncodingParam", "MP3BitRate", 1, "MP3SampleRate", "MP3ChannelMode", 3, 1,
     "MP3VbrQuality", "MP3EncodeMode", "AmplifyMp3", "MP3ID3TagType", Keeps(FormatControl::Quality)},
    {{kOutputWav}, "WAV", "AutoDestWAVEncodingParam", "", 1, "WAVSampleRate", "WAVChannelNum", 1, 2, "", "",
     "AmplifyWav", ""},
    {{kOutputWma}, "WMA", "AutoDestWMAEncodingParam", "WMABitRate", 1000, "WMASampleRate", "WMAChannels", 1, 2, "", "",
     "AmplifyWMA", "WMAID3TagType"},
    {{kOutputOgg}, "OGG", "AutoDestOGGEncodingParam", "OGGBitRate", 1, "OGGSampleRate", "OGGChannels", 1, 2,
     "OGGQuality", "OGGEncodeMode", "AmplifyOGG", "OGGID3TagType", Keeps(FormatControl::Quality)},
    {{kOutputAac}, "AAC", "AutoDestAACEncodingParam", "AACABRBitRate", 1, "", "", 0, 0, "AACVBRQuality", "AACVBR",
     "AmplifyAAC", ""},
    {{kOutputM4a, kOutputMp4, kOutputM4b, kOutputAlac}, "M4A", "AutoDestM4AEncodingParam", "M4AABRBitRate", 1, "",
     "", 0, 0, "M4AVBRQuality", "M4AVBR", "AmplifyM4A", "M4AID3TagType"},
    {{kOutputAmr, kOutputAwb}, "AMR", "", "", 1, "", "", 0, 0, "", "", "AmplifyAMR", ""},
    // --quality of FLAC is its compression level.
    {{kOutputFlac}, "FLAC", "", "", 1, "FLACSampleRate", "FLACChannels", 1, 2, "FLACCompression", "", "AmplifyFLAC",
     "FLACID3TagType"},
    {{kOutputOpus}, "Opus", "AutoDestOpusEncodingParam", "OpusBitRate", 1, "", "OpusChannels", 1, 2, "", "",
     "AmplifyOpus", "OpusID3TagType", Keeps(FormatControl::Rate) | Keeps(FormatControl::Channels)},
};

const FormatControls* ControlsOf(int32_t format) {
    for (const auto& c : kFormatControls) {
        for (const int32_t f : c.formats)
            if (f == format && f != 0) return &c;
    }
    return nullptr;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// The format whose options include name, or null for options of no format.
const FormatControls* OwnerOf(std::string_view name) {
    for (const auto& c : kFormatControls) {
        const std::string prefix = c.prefix;
        if (StartsWithIgnoreCase(name, prefix) || StartsWithIgnoreCase(name, "AutoDest" + prefix) ||
            StartsWithIgnoreCase(name, c.amplify) || (prefix == "AMR" && StartsWithIgnoreCase(name, "AWB")))
            return &c;
    }
    return nullptr;
}

int32_t NumberOf(const ConvertSettings& settings, std::string_view name) {
    for (const auto& f : kNumberFields) {
        if (SameName(name, f.name)) return settings.*f.member;
    }
    return 0;
}

}  // namespace

bool ApplyFormatControl(ConvertSettings& settings, FormatControl control, int32_t value, std::string& error) {
    static const char* const kOption[] = {"--bitrate", "--rate", "--channels", "--quality"};
    const char* option = kOption[static_cast<int>(control)];
    const FormatControls* c = ControlsOf(settings.OutputFormat);
    const char* field = "";
    if (c != nullptr) {
        switch (control) {
            case FormatControl::BitRate: field = c->bitrate; break;
            case FormatControl::Rate: field = c->rate; break;
            case FormatControl::Channels: field = c->channels; break;
            case FormatControl::Quality: field = c->quality; break;
        }
    }
    if (c == nullptr || *field == '\0') {
        error = std::string(option) + " does not apply to " + ToLowerAscii(OutputFormatName(settings.OutputFormat)) +
                " output";
        return false;
    }
    int64_t stored = value;
    if (control == FormatControl::BitRate) stored *= c->bitrateScale;
    if (control == FormatControl::Channels) stored = value == 1 ? c->mono : c->stereo;
    std::string reason;
    if (stored > INT32_MAX || !SetSettingByName(settings, field, std::to_string(stored), reason)) {
        error = std::string(option) + " " + std::to_string(value) + ": " + reason;
        return false;
    }
    if (*c->automatic != '\0' && (c->keepsAuto & Keeps(control)) == 0)
        SetSettingByName(settings, c->automatic, "0", reason);
    // --quality chooses the quality mode; -b leaves it for a bit-rate mode (any, MP3's ABR included).
    if (*c->qualitySwitch != '\0' && control == FormatControl::Quality)
        SetSettingByName(settings, c->qualitySwitch, "1", reason);
    if (*c->qualitySwitch != '\0' && control == FormatControl::BitRate && NumberOf(settings, c->qualitySwitch) == 1)
        SetSettingByName(settings, c->qualitySwitch, "0", reason);
    return true;
}

bool ApplyTagOverride(ConvertSettings& settings, std::string_view field, std::string_view value, std::string& error) {
    const FormatControls* c = ControlsOf(settings.OutputFormat);
    if (c == nullptr || *c->tagType == '\0') {
        error = "--tag: " + ToLowerAscii(OutputFormatName(settings.OutputFormat)) + " output holds no tags";
        return false;
    }
    const std::string group = std::string(c->prefix) + "Tag.";
    std::string reason;
    if (SameName(field, "track")) {
        if (!SetSettingByName(settings, group + "CustomTrackNum", value, reason)) {
            error = "--tag track: " + reason;
            return false;
        }
        SetSettingByName(settings, group + "TrackNumType", "2", reason);
    } else {
        bool known = false;
        for (const auto& f : kTagTexts) known = known || (SameName(field, f.name) && !SameName(field, "TitleAsFileName"));
        if (!known) {
            error = "--tag: unknown field '" + std::string(field) +
                    "' (title, artist, album, year, genre, comment, track, composer, copyright)";
            return false;
        }
        SetSettingByName(settings, group + std::string(field), value, reason);
        if (SameName(field, "title")) SetSettingByName(settings, group + "TitleAsFileName", "0", reason);
    }
    return SetSettingByName(settings, c->tagType, "merge", error);
}

std::vector<std::string> IneffectiveSettings(const ConvertSettings& settings, const std::vector<std::string>& names) {
    std::vector<std::string> warnings;
    const FormatControls* chosen = ControlsOf(settings.OutputFormat);
    const std::string format = ToLowerAscii(OutputFormatName(settings.OutputFormat));
    for (const std::string& name : names) {
        const FormatControls* owner = OwnerOf(name);
        if (owner == nullptr) continue;
        if (owner != chosen) {
            warnings.push_back("'" + name + "' has no effect on " + format + " output");
            continue;
        }
        const auto is = [&](const char* field) { return *field != '\0' && SameName(name, field); };
        const auto decides = [&](const char* field, FormatControl c) {
            return is(field) && (owner->keepsAuto & Keeps(c)) == 0;
        };
        const bool control = decides(owner->bitrate, FormatControl::BitRate) ||
                             decides(owner->rate, FormatControl::Rate) ||
                             decides(owner->channels, FormatControl::Channels) ||
                             decides(owner->quality, FormatControl::Quality);
        if (control && *owner->automatic != '\0' && NumberOf(settings, owner->automatic) != 0) {
            warnings.push_back("'" + name + "' has no effect while " + owner->automatic +
                               " is 1; use -b/--rate/--channels/--quality, or -s " + owner->automatic + "=0");
        } else if (*owner->qualitySwitch != '\0' && is(owner->quality) && NumberOf(settings, owner->qualitySwitch) != 1) {
            warnings.push_back("'" + name + "' has no effect while " + owner->qualitySwitch + " is " +
                               std::to_string(NumberOf(settings, owner->qualitySwitch)) + "; use --quality");
        } else if (*owner->qualitySwitch != '\0' && is(owner->bitrate) && NumberOf(settings, owner->qualitySwitch) == 1) {
            warnings.push_back("'" + name + "' has no effect while " + owner->qualitySwitch + " is 1; use -b");
        } else if (StartsWithIgnoreCase(name, owner->amplify) && name.size() > std::string_view(owner->amplify).size() &&
                   NumberOf(settings, owner->amplify) == 0) {
            warnings.push_back("'" + name + "' has no effect while " + owner->amplify + " is 0; add -s " +
                               owner->amplify + "=1");
        } else if (*owner->tagType != '\0' && name.find('.') != std::string::npos &&
                   NumberOf(settings, owner->tagType) != 0 && NumberOf(settings, owner->tagType) != 3) {
            warnings.push_back("'" + name + "' has no effect unless " + owner->tagType +
                               " is custom or merge; use --tag NAME=VALUE to set a field on top of the source's tags");
        }
    }
    return warnings;
}

std::vector<SettingInfo> DescribeSettings(const ConvertSettings& current) {
    const ConvertSettings defaults;
    std::vector<SettingInfo> list;
    for (const auto& f : kNumberFields) {
        std::string range = f.range.Text();
        if (f.names.count > 0) range += " (" + NamesText(f.names) + ")";
        list.push_back({f.name, "number", range, std::to_string(defaults.*f.member), std::to_string(current.*f.member),
                        f.meaning});
    }
    for (const auto& f : kTextFields) list.push_back({f.name, "text", "", defaults.*f.member, current.*f.member, f.meaning});
    for (const auto& g : kTagGroups) {
        const std::string prefix = std::string(g.prefix) + "Tag.";
        const std::string meaning = std::string(g.prefix) + " custom tags: ";
        for (const auto& f : kTagTexts) {
            list.push_back({prefix + f.name, "text", "", (defaults.*g.member).*f.member, (current.*g.member).*f.member,
                            meaning + f.name});
        }
        for (const auto& f : kTagNumbers) {
            list.push_back({prefix + f.name, "number", f.range.Text(), std::to_string((defaults.*g.member).*f.member),
                            std::to_string((current.*g.member).*f.member), meaning + f.name});
        }
    }
    return list;
}

}  // namespace pelloran
