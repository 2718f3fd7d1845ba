#include "settings/ConvertSettings.h"

#include <cerrno>
#include <cstdlib>

#include "media/TagRecord.h"
#include "platform/Paths.h"
#include "platform/registry.h"
#include "settings/SettingRows.h"

namespace pelloran {

namespace {

constexpr int32_t kPlaceCodes[] = {kOutputBesideSource, kOutputIntoFolder};
constexpr int32_t kPolicyCodes[] = {kTargetRename, kTargetOverwrite, kTargetSkip};
constexpr CodeName kPlaceList[] = {{"beside", kOutputBesideSource}, {"folder", kOutputIntoFolder}};
constexpr CodeName kPolicyList[] = {{"rename", kTargetRename}, {"overwrite", kTargetOverwrite}, {"skip", kTargetSkip}};
constexpr CodeName kMonoList[] = {{"mix", kMonoMix}, {"left", kMonoLeft}, {"right", kMonoRight}};
constexpr CodeName kCueGapList[] = {{"appended", 0}, {"prepended", 1}, {"left-out", 2}};
constexpr CodeName kGainTagList[] = {{"off", kGainTagsOff}, {"track", kGainTagsTrack}, {"album", kGainTagsAlbum}};
constexpr CodeName kNormalizeList[] = {{"off", 0}};

}  // namespace

std::string Range::Text() const {
    if (codes == nullptr) return std::to_string(min) + " to " + std::to_string(max);
    std::string text;
    for (size_t i = 0; i < codeCount; ++i) {
        if (i > 0) text += i + 1 == codeCount ? " or " : ", ";
        text += std::to_string(codes[i]);
    }
    return text;
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

const std::vector<NumberRow>& GeneralNumberRows() {
    using S = ConvertSettings;
    static const std::vector<NumberRow> rows = {
        {"DestOutputFolderOpt", Field<&S::DestOutputFolderOpt>, kSaveOptionsGroup, CheckNone, Codes(kPlaceCodes),
         Named(kPlaceList), "where output goes: folder (DestSpecifiedFolder) or beside the source"},
        {"CreateDirs", Field<&S::CreateDirs>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
         "rebuild the source's folder path under the output folder"},
        {"BrowseOutputFolder", Field<&S::BrowseOutputFolder>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
         "show the first output file in the file manager after a run"},
        {"OutputFiles2MyDocuments", Field<&S::OutputFiles2MyDocuments>, kSaveOptionsGroup, CheckNone, kSwitch,
         kSwitchNames, "when the output folder or file cannot be made, retry in the documents folder"},
        {"TargetExistsOpt", Field<&S::TargetExistsOpt>, kSaveOptionsGroup, CheckNone, Codes(kPolicyCodes),
         Named(kPolicyList), "when the output file exists: rename (name_1), overwrite or skip"},
        {"MonoType", Field<&S::MonoType>, kSaveOptionsGroup, CheckNone, Span(kMonoMix, kMonoRight), Named(kMonoList),
         "stereo to mono: mix both channels, keep the left or keep the right"},
        {"EnableExtFilter", Field<&S::EnableExtFilter>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
         "take only files whose extension is in FilterExts (dropped files, folder scans)"},
        {"ParallelJobs", Field<&S::ParallelJobs>, kSaveOptionsGroup, CheckNone, Span(1, 64), kNoNames,
         "files the window converts at once (default: the number of processors)"},
        {"OutputFormat", Field<&S::OutputFormat>, kSaveFormatGroup, CheckNone, Range{}, kNoNames, "output format"},
        {"OptStartPageIndex", Field<&S::OptStartPageIndex>, kSaveFormatGroup, CheckNone, Span(0, 15), kNoNames,
         "the options page shown first"},
        {"VerifyOutput", Field<&S::VerifyOutput>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
         "decode each output again and compare its length (a WAV's samples too) with the source's"},
        {"Dither", Field<&S::Dither>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
         "TPDF dither when samples are narrowed to 16 or 8 bits; off rounds down as before"},
        {"CueGaps", Field<&S::CueGaps>, kSaveOptionsGroup, CheckNone, Span(0, 2), Named(kCueGapList),
         "a CUE track's pregap: appended to the track before, prepended to its own track, or left out"},
        {"ReplayGainMode", Field<&S::ReplayGainMode>, kSaveOptionsGroup, CheckNone, Span(kGainTagsOff, kGainTagsAlbum),
         Named(kGainTagList), "ReplayGain tags (Opus: R128 gains) measured while converting: off, track or album"},
        {"NormalizeTarget", Field<&S::NormalizeTarget>, kSaveOptionsGroup, CheckNone, Span(-70, 0),
         Named(kNormalizeList), "bring each output (or album) to this loudness in LUFS, e.g. -16; 0 is off"},
        {"TruePeakCeiling", Field<&S::TruePeakCeiling>, kSaveOptionsGroup, CheckNone, Span(-20, 0), kNoNames,
         "with NormalizeTarget: the highest true peak in dBTP; a limiter holds louder peaks under it"},
    };
    return rows;
}

const std::vector<TextRow>& GeneralTextRows() {
    using S = ConvertSettings;
    static const std::vector<TextRow> rows = {
        {"Folder", TextField<&S::Folder>, kSaveFolderGroup, "the folder last chosen with Add Folder"},
        {"DestSpecifiedFolder", TextField<&S::DestSpecifiedFolder>, kSaveOptionsGroup, "the chosen output folder"},
        {"FilterExts", TextField<&S::FilterExts>, kSaveOptionsGroup, "comma-separated extensions of EnableExtFilter"},
        {"OutputNamePattern", TextField<&S::OutputNamePattern>, kSaveOptionsGroup,
         "output names from tags: {artist}/{album}/{track:02} - {title}; empty keeps the source's name"},
    };
    return rows;
}

const std::vector<TagTextRow> kTagTextRows = {
    {"Title", &TagSettings::Title},       {"Artist", &TagSettings::Artist},     {"Album", &TagSettings::Album},
    {"Year", &TagSettings::Year},         {"Genre", &TagSettings::Genre},       {"Comment", &TagSettings::Comment},
    {"Composer", &TagSettings::Composer}, {"Copyright", &TagSettings::Copyright},
};
const std::vector<TagNumberRow> kTagNumberRows = {
    {"TitleAsFileName", &TagSettings::TitleAsFileName, kSwitch},
    {"TrackNumType", &TagSettings::TrackNumType, Span(0, 2)},
    {"CustomTrackNum", &TagSettings::CustomTrackNum, Span(0, 255)},
};

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

ConvertSettings::ConvertSettings() {
    const std::string documents = DocumentsFolder(true);
    DestOutputFolderOpt = documents.empty() ? kOutputBesideSource : kOutputIntoFolder;
    DestSpecifiedFolder = documents;
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

}  // namespace pelloran
