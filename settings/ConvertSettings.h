#pragma once
// The settings record: every option named by its stored name, each default stated once.

#include <algorithm>
#include <map>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

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

struct TagSettings {
    int32_t TitleAsFileName = 1;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    std::string Comment;
    std::string Composer;
    std::string Copyright;
    int32_t TrackNumType = 0;
    int32_t CustomTrackNum = 0;
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

    // MP3
    int32_t AutoDestMP3EncodingParam = 1;
    int32_t MP3BitRate = 128;
    int32_t MP3SampleRate = 44100;
    int32_t MP3ChannelMode = 1;
    int32_t MP3ID3TagType = 1;
    int32_t MP3WriteID3Version = 1;
    int32_t MP3EncodeMode = 0;    // 0 constant bit rate, 1 VBR quality, 2 average bit rate (MP3BitRate)
    int32_t MP3VbrQuality = 2;    // V0 (best) .. V9
    int32_t MP3WriteInfoTag = 1;  // the Xing/LAME frame with length and delays; always for VBR and ABR
    int32_t AmplifyMp3 = 0;
    int32_t AmplifyMp3Coeff = 100;

    // WAV
    int32_t AutoDestWAVEncodingParam = 1;
    int32_t WAVBitsPerSample = 16;
    int32_t WAVSampleRate = 44100;
    int32_t WAVChannelNum = 2;
    int32_t AmplifyWav = 0;
    int32_t AmplifyWavCoeff = 100;

    // WMA
    int32_t AutoDestWMAEncodingParam = 1;
    int32_t WMABitRate = 128000;
    int32_t WMASampleRate = 44100;
    int32_t WMAChannels = 2;
    int32_t WMAID3TagType = 1;
    int32_t AmplifyWMA = 0;
    int32_t AmplifyWMACoeff = 100;

    // OGG Vorbis
    int32_t AutoDestOGGEncodingParam = 1;
    int32_t OGGBitRate = 128;
    int32_t OGGSampleRate = 44100;
    int32_t OGGChannels = 2;
    int32_t OGGID3TagType = 1;
    int32_t OGGEncodeMode = 0;  // 0 nominal bit rate, 1 quality (OGGQuality)
    int32_t OGGQuality = 5;     // -1 .. 10
    int32_t AmplifyOGG = 0;
    int32_t AmplifyOGGCoeff = 100;

    // AAC
    int32_t AutoDestAACEncodingParam = 1;
    int32_t AACVBR = 1;
    int32_t AACVBRQuality = 100;
    int32_t AACABRBitRate = 128;
    int32_t AACMpegVersion = 0;
    int32_t AACEnableTNS = 0;
    int32_t AACEnableMidside = 1;
    int32_t AACBlockType = 0;
    int32_t AmplifyAAC = 0;
    int32_t AmplifyAACCoef = 100;

    // MP4 family
    int32_t AutoDestM4AEncodingParam = 1;
    int32_t M4AVBR = 1;
    int32_t M4AVBRQuality = 100;
    int32_t M4AABRBitRate = 128;
    int32_t M4AEnableTNS = 0;
    int32_t M4AEnableMidside = 1;
    int32_t M4ABlockType = 0;
    int32_t AmplifyM4A = 0;
    int32_t AmplifyM4ACoef = 100;
    int32_t M4AID3TagType = 1;
    int32_t M4ACodec = 0;  // 0 AAC, 1 ALAC (lossless)

    // FLAC
    int32_t FLACCompression = 5;    // 0 fastest .. 8 smallest
    int32_t FLACSampleRate = 0;     // 0 as the source
    int32_t FLACChannels = 0;       // 0 as the source
    int32_t FLACBitsPerSample = 0;  // 0 as the source, 16 or 24
    int32_t FLACID3TagType = 1;
    int32_t AmplifyFLAC = 0;
    int32_t AmplifyFLACCoeff = 100;

    // Opus
    int32_t AutoDestOpusEncodingParam = 1;  // 128 kbit/s for stereo, 64 for mono
    int32_t OpusBitRate = 128;              // kbit/s
    int32_t OpusMode = 0;                   // 0 VBR, 1 constrained VBR, 2 CBR
    int32_t OpusComplexity = 10;
    int32_t OpusChannels = 0;               // 0 as the source
    int32_t OpusID3TagType = 1;
    int32_t AmplifyOpus = 0;
    int32_t AmplifyOpusCoeff = 100;

    // AMR
    int32_t AMRMode = 6;
    int32_t AMRWBMode = 6;
    int32_t AMRDTX = 0;
    int32_t AMRType = 0;
    int32_t AWBMode = 6;
    int32_t AWBDTX = 0;
    int32_t AmplifyAMR = 0;
    int32_t AmplifyAMRCoef = 100;

    // Cover art travels with the source's tags (tag types 1 and 3); off leaves every picture behind.
    int32_t MP3CopyCover = 1;
    int32_t OGGCopyCover = 1;
    int32_t WMACopyCover = 1;
    int32_t M4ACopyCover = 1;
    int32_t FLACCopyCover = 1;
    int32_t OpusCopyCover = 1;
    // Each output is decoded again and its length (and a WAV's samples) compared with the source's.
    int32_t VerifyOutput = 0;

    TagSettings MP3Tag;
    TagSettings OGGTag;
    TagSettings WMATag;
    TagSettings M4ATag;
    TagSettings FLACTag;
    TagSettings OpusTag;

    // Options of output formats registered beside the built-in ones, by stored name (see formats/). A missing
    // value reads as the default given.
    std::map<std::string, int32_t> moreNumbers;
    std::map<std::string, std::string> moreTexts;
    int32_t& MoreNumber(const std::string& name, int32_t defaultValue) {
        return moreNumbers.try_emplace(name, defaultValue).first->second;
    }

    // Not stored: lower-case filter extensions derived from EnableExtFilter and FilterExts.
    std::vector<std::string> filterExtList;
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
