#pragma once
// The settings record: the general options by their stored names, then one record per output format's options
// (their stored names are the formats' own, formats/). Each default is stated once.

#include <algorithm>
#include <map>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "settings/FormatSettings.h"

namespace pelloran {

class RegistryStore;

// Output-format codes.
enum OutputFormatCode : int32_t {
    kOutputMp3 = 1000,
    kOutputWav = 2000,
    kOutputOgg = 4000,
    kOutputAmr = 5500,
    kOutputAwb = 5600,
    kOutputAac = 6000,
    kOutputM4a = 6500,
    kOutputMp4 = 6600,
    kOutputM4b = 6700,
    kOutputWma = 7000,
    kOutputFlac = 3200,
    kOutputOpus = 4100,
    kOutputAlac = 6550,  // ALAC in .m4a
};

// Collision policies of TargetExistsOpt.
enum TargetExistsPolicy : int32_t {
    kTargetRename = 11,
    kTargetOverwrite = 22,
    kTargetSkip = 33,
};
// Places of DestOutputFolderOpt.
enum OutputFolderPlace : int32_t {
    kOutputBesideSource = 199,
    kOutputIntoFolder = 399,
};
// Stereo to mono (MonoType).
enum MonoChoice : int32_t {
    kMonoMix = 0,
    kMonoLeft = 1,
    kMonoRight = 2,
};

struct ConvertSettings {
    ConvertSettings();  // defaults; asks the system for the documents folder

    // General and output folder
    std::string Folder;
    // Files the window converts at once; the number of processors by default.
    int32_t ParallelJobs = static_cast<int32_t>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
    int32_t DestOutputFolderOpt = kOutputBesideSource;
    std::string DestSpecifiedFolder;
    int32_t CreateDirs = 0;
    int32_t BrowseOutputFolder = 1;
    int32_t OutputFiles2MyDocuments = 1;
    int32_t TargetExistsOpt = kTargetRename;
    int32_t MonoType = kMonoMix;
    int32_t EnableExtFilter = 0;
    std::string FilterExts;
    std::string OutputNamePattern;  // "" keeps the source's name; else "{artist}/{album}/{track:02} - {title}"
    int32_t OutputFormat = kOutputMp3;
    int32_t OptStartPageIndex = 0;

    // Each output format's options; M4A's serve MP4, M4B and ALAC too, AMR's serve AWB.
    Mp3Settings mp3{{.bitRate = 128, .rate = 44100, .channels = 1, .quality = 2}};  // channels: joint stereo
    FormatSettings wav{.rate = 44100, .channels = 2, .bits = 16};
    FormatSettings wma{.bitRate = 128000, .rate = 44100, .channels = 2};
    FormatSettings ogg{.bitRate = 128, .rate = 44100, .channels = 2, .quality = 5};  // quality -1 .. 10
    AacFormatSettings aac{{.bitRate = 128, .quality = 100, .mode = 1}};
    AacFormatSettings m4a{{.bitRate = 128, .quality = 100, .mode = 1}};
    FlacSettings flac;  // rate, channels and width as the source
    OpusSettings opus{{.bitRate = 128}};  // automatic: 128 kbit/s for stereo, 64 for mono
    AmrSettings amr;

    // Each output is decoded again and its length (and a WAV's samples) compared with the source's.
    int32_t VerifyOutput = 0;
    // Narrowing to 16 or 8 bits adds TPDF dither (0: the low bits are cut off).
    int32_t Dither = 1;
    // Where a CUE track's pregap goes: 0 appended to the track before, 1 prepended to its own, 2 left out.
    int32_t CueGaps = 0;

    // Loudness: ReplayGain 2.0 tags (Opus: R128 gains) measured while converting, per track or per album; the
    // output brought to a loudness (0: off, else LUFS) under a true-peak ceiling in dBTP.
    int32_t ReplayGainMode = 0;  // kGainTagsOff, kGainTagsTrack, kGainTagsAlbum
    int32_t NormalizeTarget = 0;
    int32_t TruePeakCeiling = -1;

    // Options of output formats registered beside the built-in ones, by stored name (see formats/). A missing
    // value reads as the default given.
    std::map<std::string, int32_t> moreNumbers;
    int32_t& MoreNumber(const std::string& name, int32_t defaultValue) {
        return moreNumbers.try_emplace(name, defaultValue).first->second;
    }

    // Not stored: normalisation takes a source's own gain tags for its loudness where it has them.
    bool trustGainTags = false;
    // Not stored: lower-case filter extensions derived from EnableExtFilter and FilterExts.
    std::vector<std::string> filterExtList;
};

// ReplayGainMode.
enum GainTagMode : int32_t {
    kGainTagsOff = 0,
    kGainTagsTrack = 1,
    kGainTagsAlbum = 2,
};

// Groups of SaveSettings.
enum SettingsGroup : int {
    kSaveFolderGroup = 4,
    kSaveOptionsGroup = 8,
    kSaveFormatGroup = 16,
};

inline constexpr const char* kProgramKey = "Software\\Brenthaven\\Pelloran";
inline constexpr const char* kOptionsKey = "Options";  // [Options]; the tag groups below it are [Options/MP3Tag], ...

// True on the first run (FirstRun missing or non-zero); marks the run as seen in the store.
bool CheckFirstRun(RegistryStore& store);
void RebuildExtensionFilter(ConvertSettings& settings);

}  // namespace pelloran
