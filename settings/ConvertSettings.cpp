#include "settings/ConvertSettings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/Paths.h"
#include "platform/registry.h"

namespace pelloran {

const OutputFormatRow kOutputFormatTable[] = {
    {kOutputMp3, "mp3", nullptr},
    {kOutputWav, "wav", nullptr},
    {kOutputWma, "wma", nullptr},
    {kOutputOgg, "ogg", nullptr},
    {kOutputAac, "aac", nullptr},
    {kOutputM4a, "m4a", "AAC for iPod / iTunes"},
    {kOutputMp4, "mp4", "MP4 (Audio only)"},
    {kOutputM4a, "m4a", "M4A (MPEG-4 Audio)"},
    {kOutputM4b, "m4b", "M4B (MPEG-4 Audiobook)"},
    {kOutputAmr, "amr", nullptr},
    {kOutputAwb, "awb", nullptr},
    {-1, nullptr, nullptr},
};

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
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

constexpr int32_t kPlaceCodes[] = {kOutputBesideSource, kOutputIntoFolder};
constexpr int32_t kPolicyCodes[] = {kTargetRename, kTargetOverwrite, kTargetSkip};
constexpr int32_t kFormatCodes[] = {kOutputMp3, kOutputWav, kOutputWma, kOutputOgg, kOutputAac,
                                    kOutputM4a, kOutputMp4, kOutputM4b, kOutputAmr, kOutputAwb};
constexpr int32_t kMp3ChannelModes[] = {0, 1, 3, 4};
constexpr int32_t kWavWidths[] = {0, 8, 16};

constexpr Range kSwitch = Span(0, 1);
constexpr Range kTagType = Span(0, 2);
constexpr Range kGain = Span(10, 3000);
constexpr Range kFreeGain = Span(1, 100000);  // not clamped on load, but never zero or negative
constexpr Range kRate = Span(0, 384000);      // Hz; 0 follows the source

struct NumberField {
    const char* name;
    int32_t ConvertSettings::*member;
    int group;
    int32_t (*check)(int32_t);
    Range range;
};

struct TextField {
    const char* name;
    std::string ConvertSettings::*member;
    int group;
};

// Every numeric option in load order, with its save group and load check.
constexpr NumberField kNumberFields[] = {
    {"DestOutputFolderOpt", &ConvertSettings::DestOutputFolderOpt, kSaveOptionsGroup, CheckNone, Codes(kPlaceCodes)},
    {"CreateDirs", &ConvertSettings::CreateDirs, kSaveOptionsGroup, CheckNone, kSwitch},
    {"BrowseOutputFolder", &ConvertSettings::BrowseOutputFolder, kSaveOptionsGroup, CheckNone, kSwitch},
    {"OutputFiles2MyDocuments", &ConvertSettings::OutputFiles2MyDocuments, kSaveOptionsGroup, CheckNone, kSwitch},
    {"TargetExistsOpt", &ConvertSettings::TargetExistsOpt, kSaveOptionsGroup, CheckNone, Codes(kPolicyCodes)},
    {"MonoType", &ConvertSettings::MonoType, kSaveOptionsGroup, CheckNone, Span(kMonoMix, kMonoRight)},
    {"EnableExtFilter", &ConvertSettings::EnableExtFilter, kSaveOptionsGroup, CheckNone, kSwitch},
    {"OutputFormat", &ConvertSettings::OutputFormat, kSaveFormatGroup, CheckNone, Codes(kFormatCodes)},
    {"AutoDestMP3EncodingParam", &ConvertSettings::AutoDestMP3EncodingParam, kSaveOptionsGroup, CheckNone, kSwitch},
    {"MP3BitRate", &ConvertSettings::MP3BitRate, kSaveOptionsGroup, CheckNone, Span(0, 320)},
    {"MP3SampleRate", &ConvertSettings::MP3SampleRate, kSaveOptionsGroup, CheckNone, Span(0, 48000)},
    {"MP3ChannelMode", &ConvertSettings::MP3ChannelMode, kSaveOptionsGroup, CheckMp3ChannelMode, Codes(kMp3ChannelModes)},
    {"AutoDestWAVEncodingParam", &ConvertSettings::AutoDestWAVEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch},
    {"WAVBitsPerSample", &ConvertSettings::WAVBitsPerSample, kSaveOptionsGroup, CheckNone, Codes(kWavWidths)},
    {"WAVSampleRate", &ConvertSettings::WAVSampleRate, kSaveOptionsGroup, CheckNone, kRate},
    {"WAVChannelNum", &ConvertSettings::WAVChannelNum, kSaveOptionsGroup, CheckZeroOneTwo, Span(0, 2)},
    {"AutoDestWMAEncodingParam", &ConvertSettings::AutoDestWMAEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch},
    {"WMABitRate", &ConvertSettings::WMABitRate, kSaveOptionsGroup, CheckNone, Span(0, 768000)},
    {"WMASampleRate", &ConvertSettings::WMASampleRate, kSaveOptionsGroup, CheckNone, Span(0, 192000)},
    {"WMAChannels", &ConvertSettings::WMAChannels, kSaveOptionsGroup, CheckOneTwo, Span(1, 2)},
    {"WMAID3TagType", &ConvertSettings::WMAID3TagType, kSaveOptionsGroup, CheckZeroOneTwo, kTagType},
    {"AmplifyWMA", &ConvertSettings::AmplifyWMA, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AmplifyWMACoeff", &ConvertSettings::AmplifyWMACoeff, kSaveOptionsGroup, CheckCoeff, kGain},
    {"AutoDestOGGEncodingParam", &ConvertSettings::AutoDestOGGEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch},
    {"OGGBitRate", &ConvertSettings::OGGBitRate, kSaveOptionsGroup, CheckOggBitRate, Span(0, 1000)},
    {"OGGSampleRate", &ConvertSettings::OGGSampleRate, kSaveOptionsGroup, CheckNone, kRate},
    {"OGGChannels", &ConvertSettings::OGGChannels, kSaveOptionsGroup, CheckZeroOneTwo, Span(0, 2)},
    {"OGGID3TagType", &ConvertSettings::OGGID3TagType, kSaveOptionsGroup, CheckNone, kTagType},
    {"AmplifyOGG", &ConvertSettings::AmplifyOGG, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AmplifyOGGCoeff", &ConvertSettings::AmplifyOGGCoeff, kSaveOptionsGroup, CheckCoeff, kGain},
    {"AutoDestAACEncodingParam", &ConvertSettings::AutoDestAACEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AACVBR", &ConvertSettings::AACVBR, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AACVBRQuality", &ConvertSettings::AACVBRQuality, kSaveOptionsGroup, CheckNone, Span(10, 500)},
    {"AACABRBitRate", &ConvertSettings::AACABRBitRate, kSaveOptionsGroup, CheckNone, Span(8, 576)},
    {"AACMpegVersion", &ConvertSettings::AACMpegVersion, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AACEnableTNS", &ConvertSettings::AACEnableTNS, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AACEnableMidside", &ConvertSettings::AACEnableMidside, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AACBlockType", &ConvertSettings::AACBlockType, kSaveOptionsGroup, CheckNone, Span(0, 2)},
    {"AmplifyAAC", &ConvertSettings::AmplifyAAC, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AmplifyAACCoef", &ConvertSettings::AmplifyAACCoef, kSaveOptionsGroup, CheckNone, kFreeGain},
    {"AutoDestM4AEncodingParam", &ConvertSettings::AutoDestM4AEncodingParam, kSaveOptionsGroup, CheckNone, kSwitch},
    {"M4AVBR", &ConvertSettings::M4AVBR, kSaveOptionsGroup, CheckNone, kSwitch},
    {"M4AVBRQuality", &ConvertSettings::M4AVBRQuality, kSaveOptionsGroup, CheckNone, Span(10, 500)},
    {"M4AABRBitRate", &ConvertSettings::M4AABRBitRate, kSaveOptionsGroup, CheckNone, Span(8, 576)},
    {"M4AEnableTNS", &ConvertSettings::M4AEnableTNS, kSaveOptionsGroup, CheckNone, kSwitch},
    {"M4AEnableMidside", &ConvertSettings::M4AEnableMidside, kSaveOptionsGroup, CheckNone, kSwitch},
    {"M4ABlockType", &ConvertSettings::M4ABlockType, kSaveOptionsGroup, CheckNone, Span(0, 2)},
    {"AmplifyM4A", &ConvertSettings::AmplifyM4A, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AmplifyM4ACoef", &ConvertSettings::AmplifyM4ACoef, kSaveOptionsGroup, CheckNone, kFreeGain},
    {"M4AID3TagType", &ConvertSettings::M4AID3TagType, kSaveOptionsGroup, CheckZeroOneTwo, kTagType},
    {"AMRMode", &ConvertSettings::AMRMode, kSaveOptionsGroup, CheckNone, Span(0, 7)},
    {"AMRWBMode", &ConvertSettings::AMRWBMode, kSaveOptionsGroup, CheckNone, Span(0, 8)},
    {"AMRDTX", &ConvertSettings::AMRDTX, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AMRType", &ConvertSettings::AMRType, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AWBMode", &ConvertSettings::AWBMode, kSaveOptionsGroup, CheckNone, Span(0, 8)},
    {"AWBDTX", &ConvertSettings::AWBDTX, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AmplifyAMR", &ConvertSettings::AmplifyAMR, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AmplifyAMRCoef", &ConvertSettings::AmplifyAMRCoef, kSaveOptionsGroup, CheckNone, kFreeGain},
    {"MP3ID3TagType", &ConvertSettings::MP3ID3TagType, kSaveOptionsGroup, CheckNone, kTagType},
    {"MP3WriteID3Version", &ConvertSettings::MP3WriteID3Version, kSaveOptionsGroup, CheckNone, Span(0, 2)},
    {"AmplifyMp3", &ConvertSettings::AmplifyMp3, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AmplifyMp3Coeff", &ConvertSettings::AmplifyMp3Coeff, kSaveOptionsGroup, CheckCoeff, kGain},
    {"AmplifyWav", &ConvertSettings::AmplifyWav, kSaveOptionsGroup, CheckNone, kSwitch},
    {"AmplifyWavCoeff", &ConvertSettings::AmplifyWavCoeff, kSaveOptionsGroup, CheckCoeff, kGain},
    {"OptStartPageIndex", &ConvertSettings::OptStartPageIndex, kSaveFormatGroup, CheckNone, Span(0, 15)},
};

constexpr TextField kTextFields[] = {
    {"Folder", &ConvertSettings::Folder, kSaveFolderGroup},
    {"DestSpecifiedFolder", &ConvertSettings::DestSpecifiedFolder, kSaveOptionsGroup},
    {"FilterExts", &ConvertSettings::FilterExts, kSaveOptionsGroup},
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

// A number given by name: refused with the reason when it is not a number or out of its range.
bool SetNumber(int32_t& member, const Range& range, std::string_view name, std::string_view value, std::string& error) {
    int32_t v = 0;
    if (!ParseNumber(value, v)) {
        error = "'" + std::string(name) + "' needs a number, not '" + std::string(value) + "'";
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

std::string OutputFormatRowText(const OutputFormatRow& row) {
    return " to " + (row.label != nullptr ? std::string(row.label) : Upper(row.extension));
}

int OutputFormatRowIndex(int32_t code) {
    int found = -1;
    for (int i = 0; kOutputFormatTable[i].code != -1; ++i) {
        if (kOutputFormatTable[i].code == code) found = i;
    }
    return found;
}

std::string OutputExtension(int32_t code) {
    const OutputFormatRow* row = RowForCode(code);
    return row == nullptr ? std::string{} : "." + std::string(row->extension);
}

std::string OutputFormatName(int32_t code) {
    const OutputFormatRow* row = RowForCode(code);
    return row == nullptr ? std::string{} : Upper(row->extension);
}

int32_t OutputFormatFromName(std::string_view name) {
    const std::string lower = Lower(name);
    for (const OutputFormatRow* row = kOutputFormatTable; row->code != -1; ++row) {
        if (lower == row->extension) return row->code;
    }
    return 0;
}

std::vector<std::string> OutputFormatNames() {
    std::vector<std::string> names;
    for (const OutputFormatRow* row = kOutputFormatTable; row->code != -1; ++row) {
        if (std::find(names.begin(), names.end(), row->extension) == names.end()) names.emplace_back(row->extension);
    }
    return names;
}

ConvertSettings::ConvertSettings() {
    const std::string documents = DocumentsFolder(true);
    DestOutputFolderOpt = documents.empty() ? kOutputBesideSource : kOutputIntoFolder;
    DestSpecifiedFolder = documents;
}

void LoadSettings(ConvertSettings& settings, const RegistryStore& store) {
    if (!store.KeyExists(kOptionsKey)) return;
    for (const auto& f : kTextFields) {
        if (auto v = store.ReadText(kOptionsKey, f.name)) settings.*f.member = *v;
    }
    // Out of range after the load check: the default stays.
    for (const auto& f : kNumberFields) {
        if (auto v = store.ReadNumber(kOptionsKey, f.name); v && f.range.Contains(f.check(*v)))
            settings.*f.member = f.check(*v);
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
    const std::string lower = Lower(settings.FilterExts);
    size_t start = 0;
    while (true) {
        const size_t comma = lower.find(',', start);
        settings.filterExtList.push_back(lower.substr(start, comma == std::string::npos ? std::string::npos
                                                                                          : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

bool SetSettingByName(ConvertSettings& settings, std::string_view name, std::string_view value,
                      std::string& error) {
    const size_t dot = name.find('.');
    if (dot != std::string_view::npos) {
        const std::string_view group = name.substr(0, dot);
        const std::string_view field = name.substr(dot + 1);
        for (const auto& g : kTagGroups) {
            if (group != std::string(g.prefix) + "Tag") continue;
            TagSettings& tags = settings.*g.member;
            for (const auto& f : kTagTexts) {
                if (field == f.name) {
                    tags.*f.member = std::string(value);
                    return true;
                }
            }
            for (const auto& f : kTagNumbers) {
                if (field == f.name) return SetNumber(tags.*f.member, f.range, name, value, error);
            }
        }
        error = "unknown option '" + std::string(name) + "'";
        return false;
    }
    for (const auto& f : kTextFields) {
        if (name == f.name) {
            settings.*f.member = std::string(value);
            RebuildExtensionFilter(settings);
            return true;
        }
    }
    for (const auto& f : kNumberFields) {
        if (name != f.name) continue;
        if (!SetNumber(settings.*f.member, f.range, name, value, error)) return false;
        RebuildExtensionFilter(settings);
        return true;
    }
    error = "unknown option '" + std::string(name) + "'";
    return false;
}

}  // namespace pelloran
