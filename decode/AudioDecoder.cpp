#include "decode/AudioDecoder.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "decode/DecoderFactory.h"
#include "decode/FfmpegSource.h"
#include "decode/Readers.h"
#include "platform/wm.h"

namespace pelloran {

void AudioDecoder::ResetState() {
    length = 0;
    position = 0;
    durationSeconds = 0;
    sampleRate = 0;
    channels = 0;
    outputChannels = 0;
    bitsPerSample = 0;
    bytesPerSample = 0;
    bitrateKbps = 0;
    channelMode = 4;
    videoWidth = 0;
    videoHeight = 0;
    frameRate = 0.0;
}

namespace {

struct ExtensionCode {
    const char* extension;
    uint16_t code;
};

constexpr ExtensionCode kExtensionTable[] = {
    {".mp3", kInputMp3},      {".wav", kInputWav},       {".wave", kInputWav},
    {".mod", kInputModule},   {".xm", kInputModule},     {".it", kInputModule},
    {".s3m", kInputModule},   {".mtm", kInputModule},    {".umx", kInputModule},
    {".mo3", kInputModule},   {".midi", kInputMidi},     {".mid", kInputMidi},
    {".rmi", kInputMidi},     {".kar", kInputMidi},      {".cda", kInputCda},
    {".flac", kInputFlac},    {".fla", kInputFlac},      {".wv", kInputWavPack},
    {".adx", kInputAdx},      {".ape", kInputApe},       {".mac", kInputApe},
    {".mpc", kInputMusepack}, {".mpp", kInputMusepack},  {".mp+", kInputMusepack},
    {".spx", kInputSpeex},    {".tta", kInputTta},       {".ogg", kInputOgg},
    {".oga", kInputOgg},      {".ogm", kInputOgg},       {".ogv", kInputOgg},
    {".ogx", kInputOgg},      {".au", kInputAu},         {".snd", kInputAu},
    {".aif", kInputAiff},     {".aiff", kInputAiff},     {".aifc", kInputAiff},
    {".afc", kInputAiff},     {".aac", kInputAac},       {".m4a", kInputM4a},
    {".m4b", kInputM4a},      {".mp4", kInputMp4},       {".m4v", kInputMp4},
    {".wma", kInputWindowsMedia}, {".wmv", kInputWindowsMedia}, {".asf", kInputWindowsMedia},
    {".wm", kInputWindowsMedia},  {".wmd", kInputWindowsMedia}, {".xwmv", kInputWindowsMedia},
};

// First reader and fallbacks per code; codes not listed use the "other" row.
struct ReaderRoute {
    uint16_t code;
    ReaderKind first;
    bool bassFallback;
    bool ffmpegFallback;
};

constexpr ReaderRoute kRoutes[] = {
    {kInputMp3, ReaderKind::Bass, false, true},      {kInputWav, ReaderKind::Bass, false, true},
    {kInputModule, ReaderKind::Bass, false, true},   {kInputMidi, ReaderKind::Bass, false, true},
    {kInputCda, ReaderKind::Bass, false, true},      {kInputFlac, ReaderKind::Bass, false, true},
    {kInputWavPack, ReaderKind::Bass, false, true},  {kInputAdx, ReaderKind::Bass, false, true},
    {kInputApe, ReaderKind::Bass, false, true},      {kInputMusepack, ReaderKind::Bass, false, true},
    {kInputSpeex, ReaderKind::Bass, false, true},    {kInputTta, ReaderKind::Bass, false, true},
    {kInputAac, ReaderKind::Bass, false, true},      {kInputM4a, ReaderKind::Bass, false, true},
    {kInputMp4, ReaderKind::Bass, false, true},      {kInputOgg, ReaderKind::Vorbis, true, true},
    {kInputAu, ReaderKind::Au, false, true},         {kInputAiff, ReaderKind::Aiff, true, true},
    {kInputWindowsMedia, ReaderKind::Wma, false, true},
};

struct ReaderNameRow {
    ReaderKind kind;
    const char* name;
    bool alias;  // accepted, never shown: names of earlier versions
};
constexpr ReaderNameRow kReaderNames[] = {
    {ReaderKind::Bass, "general", false},   {ReaderKind::Wav, "wav", false},
    {ReaderKind::Aiff, "aiff", false},      {ReaderKind::Au, "au", false},
    {ReaderKind::Ffmpeg, "ffmpeg", false},  {ReaderKind::FfmpegProbe, "ffmpeg", false},
    {ReaderKind::Vorbis, "vorbis", false},  {ReaderKind::Wma, "wma", false},
    {ReaderKind::Bass, "bass", true},
};

// The WMA question of the runtime check; the factory asks it while the runtime is missing.
void CheckWmaRuntimeForReading(DecoderContext& context) {
    if (WmaRuntimeReady() || LoadWmaRuntime()) return;
    if (context.prompt && context.prompt->Ask(Question::WmaRuntimeMissing, {}))
        context.prompt->OpenAddress(kWmaRuntimeDownloadAddress);
}

// The refusals of the readers tried, readers with the same reason named together:
// "bass, ffmpeg: Invalid data found when processing input; au: not a file it reads".
std::string RefusalList(const std::vector<std::pair<ReaderKind, std::string>>& refusals) {
    std::vector<std::pair<std::string, std::string>> grouped;  // readers, reason
    for (const auto& [kind, reason] : refusals) {
        const std::string why = reason.empty() ? "not a file it reads" : reason;
        auto it = std::find_if(grouped.begin(), grouped.end(), [&why](const auto& g) { return g.second == why; });
        if (it == grouped.end()) {
            grouped.emplace_back(ReaderName(kind), why);
        } else if (it->first.find(ReaderName(kind)) == std::string::npos) {
            it->first += std::string(", ") + ReaderName(kind);
        }
    }
    std::string text;
    for (const auto& [readers, why] : grouped) {
        if (!text.empty()) text += "; ";
        text += readers + ": " + why;
    }
    return text;
}

}  // namespace

const char* const kUnreadableFileNote =
    "No reader could open this file. If it plays elsewhere, please send it to support@pelloran.org";

std::string_view PathExtension(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

uint16_t InputFormatFromPath(std::string_view path) {
    const std::string_view ext = PathExtension(path);
    if (ext.empty()) return kInputOther;
    for (const auto& entry : kExtensionTable) {
        if (EqualsIgnoreCase(ext, entry.extension)) return entry.code;
    }
    return kInputOther;
}

const char* ReaderName(ReaderKind kind) {
    for (const ReaderNameRow& row : kReaderNames) {
        if (row.kind == kind && !row.alias) return row.name;
    }
    return "";
}

std::optional<ReaderKind> ReaderFromName(std::string_view name) {
    for (const ReaderNameRow& row : kReaderNames) {
        if (EqualsIgnoreCase(name, row.name)) return row.kind;
    }
    return std::nullopt;
}

std::vector<std::string> ReaderNames(bool withAliases) {
    std::vector<std::string> names;
    for (const ReaderNameRow& row : kReaderNames) {
        if ((withAliases || !row.alias) && std::find(names.begin(), names.end(), row.name) == names.end())
            names.emplace_back(row.name);
    }
    return names;
}

std::unique_ptr<AudioDecoder> MakeReader(ReaderKind kind) {
    switch (kind) {
        case ReaderKind::Bass: return MakeBassDecoder();
        case ReaderKind::Wav: return MakeWavReader();
        case ReaderKind::Aiff: return MakeAiffReader();
        case ReaderKind::Au: return MakeAuReader();
        case ReaderKind::Ffmpeg: return MakeFfmpegDecoder();
        case ReaderKind::FfmpegProbe: return MakeFfmpegProbe();
        case ReaderKind::Vorbis: return MakeOggVorbisDecoder();
        case ReaderKind::Wma: return MakeWmaReader();
    }
    return nullptr;
}

std::unique_ptr<AudioDecoder> CreateDecoder(const std::string& path, uint16_t code, int rate,
                                            bool forConversion, DecoderContext& context) {
    context.openedBy.reset();
    const ReaderKind ffmpegKind = forConversion ? ReaderKind::Ffmpeg : ReaderKind::FfmpegProbe;

    const ReaderRoute* route = nullptr;
    for (const auto& r : kRoutes) {
        if (r.code == code) route = &r;
    }

    std::vector<ReaderKind> order;
    if (route == nullptr) {
        order.push_back(ffmpegKind);
    } else {
        ReaderKind first = route->first;
        if (code == kInputWindowsMedia) {
            CheckWmaRuntimeForReading(context);
            first = WmaRuntimeReady() ? ReaderKind::Wma : ReaderKind::Bass;
        }
        order.push_back(first);
        if (route->bassFallback) order.push_back(ReaderKind::Bass);
        if (route->ffmpegFallback) order.push_back(ffmpegKind);
        if (code == kInputWav) order.push_back(ReaderKind::Wav);
    }

    if (context.preferred) {
        ReaderKind preferred = *context.preferred;
        if (preferred == ReaderKind::Ffmpeg || preferred == ReaderKind::FfmpegProbe) preferred = ffmpegKind;
        std::erase(order, preferred);
        order.insert(order.begin(), preferred);
    }

    std::vector<std::pair<ReaderKind, std::string>> refusals;
    for (ReaderKind kind : order) {
        std::unique_ptr<AudioDecoder> reader = MakeReader(kind);
        if (!reader) continue;  // not built in
        reader->SetCancel(context.cancelled);
        if (reader->Open(path, rate)) {
            context.openedBy = kind;
            return reader;
        }
        refusals.emplace_back(kind, reader->Refusal());
        if (context.cancelled && context.cancelled()) break;
    }
    // A missing library is named in either mode: it is what the user has to mend.
    const std::string missing = MediaLibraryProblem();
    const std::string note(kUnreadableFileNote);
    const size_t stop = note.find('.');
    context.failureNote = note.substr(0, stop) + " (" + (missing.empty() ? RefusalList(refusals) : missing) + ")" +
                          note.substr(stop);
    return nullptr;
}


}  // namespace pelloran
