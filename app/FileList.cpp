#include "app/FileList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "platform/File.h"
#include "platform/Paths.h"
#include "app/Shortcut.h"
#include "decode/AudioDecoder.h"

namespace pelloran {

const SourceFileKind kSourceFileKinds[] = {
    {"3GPP Files", "3gp 3gpp"},
    {"3GPP2 Files", "3g2 3gp2"},
    {"Adobe Flash Files", "swf"},
    {"Advanced Audio Coding", "aac"},
    {"AIFF Files", "aiff aif aifc afc"},
    {"AMR Files", "amr awb"},
    {"AU Files", "au snd"},
    {"AVI Files", "avi"},
    {"CD Audio", "cda"},
    {"Creative Voice Files", "voc"},
    {"CRI ADX Files", "adx"},
    {"Dolby Digital AC-3", "ac3"},
    {"DTS Files", "dts"},
    {"DV Video Files", "dv dif"},
    {"DVD Video Files", "vob dvd"},
    {"Electronic Arts CDATA Files", "cdata"},
    {"Flash Video Files", "flv"},
    {"Free Lossless Audio Codec", "flac fla"},
    {"H.264/MPEG4 AVC Video", "m2ts mts"},
    {"Matroska Files", "mkv mka"},
    {"Microsoft Digital Video Recording", "dvr-ms"},
    {"MIDI Files", "midi mid rmi kar"},
    {"MJPEG Video Files", "mjpg mjpeg"},
    {"MMF Files", "mmf"},
    {"MOD Musics", "mod xm it s3m mtm umx mo3"},
    {"Monkey's Audio", "ape mac"},
    {"MP3 Files", "mp3"},
    {"MPEG Audio Files", "mpa mpga m2a"},
    {"MPEG Video Files", "mpg mpe mpeg m1v mp2 m2v mp1 mlv"},
    {"MPEG-4 Audio Files", "m4a m4b mp4"},
    {"MPEG4 TS HD Video", "ts"},
    {"MPEG-4 Video Files", "mp4 m4v mpv psp"},
    {"Musepack", "mpc mp+ mpp"},
    {"Nullsoft Audio/Video Files", "nsv nsa"},
    {"NUT Files", "nut"},
    {"OGG Files", "ogg oga ogm ogv ogx"},
    {"Opus Files", "opus"},
    {"QuickTime Files", "mov qt"},
    {"Raw h261 Files", "h261"},
    {"Raw h263 Files", "h263"},
    {"Raw h264 Video Files", "h264 264"},
    {"Real Audio Files", "ra ram"},
    {"Real Media Files", "rm rmvb"},
    {"Speex", "spx"},
    {"The True Audio", "tta"},
    {"WAV Files", "wav wave"},
    {"WavPack", "wv"},
    {"Windows Media Files", "wma asf wmv wm wmd xwmv"},
    {"YUV Video Files", "yuv"},
};
const size_t kSourceFileKindCount = sizeof kSourceFileKinds / sizeof kSourceFileKinds[0];

namespace {

// Bound on nested folder levels and on link hops: cuts link cycles.
constexpr int kMaxFolderDepth = 64;
constexpr int kMaxLinkHops = 8;

}  // namespace

bool IsKnownSourceExtension(const std::string& path) {
    std::string ext = ToLowerAscii(ExtensionPart(path));
    if (ext.size() < 2) return false;
    if (InputFormatFromPath(path) != kInputOther) return true;
    ext.erase(0, 1);
    for (size_t i = 0; i < kSourceFileKindCount; ++i) {
        const std::string_view list = kSourceFileKinds[i].extensions;
        for (size_t start = 0; start < list.size();) {
            const size_t blank = std::min(list.find(' ', start), list.size());
            if (list.substr(start, blank - start) == ext) return true;
            start = blank + 1;
        }
    }
    return false;
}

Note RefusalNote(const std::string& path, uint16_t code, const std::string& failureNote) {
    const std::string ext = ToLowerAscii(ExtensionPart(path));
    if (code == kInputCda) return MakeNote(NoteCode::CdaFromDisk);
    if (ext == ".swf" || ext == ".flv") return MakeNote(NoteCode::FlashFile);
    return ReaderNote(failureNote);  // which readers refused it, and why
}

ProbeOutcome ProbeFile(const std::string& path, std::optional<ReaderKind> preferred, bool readTags,
                       const std::function<bool()>& cancelled, bool openReader, bool readCue) {
    ProbeOutcome outcome;
    // Only regular files are opened: a FIFO or device could block or never end.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        outcome.note = MakeNote(NoteCode::SystemError, {}, errno);
        return outcome;
    }
    if (!S_ISREG(st.st_mode)) {
        outcome.note = MakeNote(NoteCode::NotRegularFile);
        outcome.notRegular = true;
        return outcome;
    }
    // An empty file holds no audio: refused as a file no reader opens.
    if (st.st_size == 0) return outcome;
    if (access(path.c_str(), R_OK) != 0) {
        outcome.note = MakeNote(NoteCode::SystemError, {}, errno);
        return outcome;
    }
    const std::string ext = ToLowerAscii(ExtensionPart(path));
    const uint16_t code = InputFormatFromPath(path);
    if (ext == ".dat") {
        outcome.note = MakeNote(NoteCode::DatFile);
        return outcome;
    }
    FileItem& item = outcome.item;
    item.sourcePath = path;
    item.formatCode = code;
    if (!openReader) {
        outcome.ok = true;
        return outcome;
    }
    DecoderContext context;
    context.preferred = preferred;
    context.cancelled = cancelled;
    std::unique_ptr<AudioDecoder> decoder = CreateDecoder(path, code, 0, false, context);
    if (!decoder) {
        outcome.note = RefusalNote(path, code, context.failureNote);
        outcome.item = {};
        return outcome;
    }
    const int duration = decoder->GetDurationSeconds();
    const int rate = decoder->GetSampleRate();
    const int bitrate = decoder->GetBitrateKbps();
    item.durationSeconds = static_cast<uint32_t>(std::max(duration, 0));
    item.sampleRate = static_cast<uint32_t>(std::max(rate, 0));
    item.bitrateKbps = static_cast<uint32_t>(std::max(bitrate, 0));
    outcome.channels = decoder->GetChannels();
    outcome.channelMode = decoder->GetChannelMode();
    if (code == kInputMp3) item.channelMode = static_cast<uint32_t>(outcome.channelMode);
    else item.channels = static_cast<uint32_t>(std::max(outcome.channels, 0));
    outcome.reader = context.openedBy;
    if (readTags) {
        decoder->ReadTags(item.tags);
        item.tagsRead = true;
    }
    if (readCue && CueCarrier(path)) {
        // Through the reader's open file; a reader that keeps none has the file opened once more.
        File own;
        const File* file = decoder->SourceFile();
        if (file == nullptr && own.Open(path, "rb")) file = &own;
        if (file != nullptr) {
            EmbeddedCue embedded = ReadEmbeddedCue(*file, path);
            outcome.frames = embedded.frames;
            outcome.cueSheet = std::move(embedded.sheet);
        }
    }
    decoder->Close();
    outcome.ok = true;
    return outcome;
}

std::string PathIndex::Key(const std::string& path) {
    // An existing file is known by its identity, whatever path or link reaches it.
    if (const auto id = IdentityOf(path)) {
        std::string key = "\x01";
        key += std::to_string(id->device);
        key += ':';
        key += std::to_string(id->inode);
        return key;
    }
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}

bool PathIndex::Insert(const std::string& path) {
    const std::string key = Key(path);
    if (!keys_.insert(key).second) return false;
    byPath_[path] = key;
    return true;
}

void PathIndex::Erase(const std::string& path) {
    // The key it was listed under, even when the file has changed or gone since.
    const auto it = byPath_.find(path);
    keys_.erase(it != byPath_.end() ? it->second : Key(path));
    if (it != byPath_.end()) byPath_.erase(it);
}

bool PathIndex::Contains(const std::string& path) const { return keys_.count(Key(path)) != 0; }

bool FilterStep(std::string& path, const ConvertSettings& settings) {
    if (settings.EnableExtFilter == 0) return true;
    const auto& list = settings.filterExtList;
    // A shortcut that is not itself wanted is replaced by its target, a bounded number of times.
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        std::string ext = ToLowerAscii(ExtensionPart(path));
        if (!ext.empty()) ext.erase(0, 1);
        if (std::find(list.begin(), list.end(), ext) != list.end()) return true;
        std::string target;
        if (ext != "lnk" || !ResolveShortcut(path, target)) return false;
        path = target;
    }
    return false;
}

namespace {

bool Hidden(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

void CollectFolders(std::vector<std::string>& out, const std::string& folder, int depth,
                    std::set<std::pair<dev_t, ino_t>>& seen, const ScanCancel& cancelled, const ScanOptions& options) {
    if (cancelled && cancelled()) return;
    struct stat st {};
    if (depth > kMaxFolderDepth || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    if (!seen.insert({st.st_dev, st.st_ino}).second) return;  // a link cycle
    out.push_back(folder);
    std::error_code ec;
    std::vector<std::string> children;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        if (cancelled && cancelled()) return;
        std::error_code typeError;
        if (options.skipHidden && Hidden(it->path())) continue;
        if (it->is_directory(typeError)) children.push_back(it->path().string());
    }
    std::sort(children.begin(), children.end());
    for (const auto& child : children) CollectFolders(out, child, depth + 1, seen, cancelled, options);
}

}  // namespace

void ScanFolder(std::vector<std::string>& out, const std::string& folder, const ConvertSettings& settings,
                const ScanCancel& cancelled, const ScanOptions& options) {
    std::vector<std::string> folders;
    std::set<std::pair<dev_t, ino_t>> seen;
    // The excluded folder counts as visited, unless it is the folder named itself.
    struct stat excluded {}, root {};
    if (!options.excludeFolder.empty() && stat(options.excludeFolder.c_str(), &excluded) == 0 &&
        S_ISDIR(excluded.st_mode) &&
        (stat(folder.c_str(), &root) != 0 || root.st_dev != excluded.st_dev || root.st_ino != excluded.st_ino))
        seen.insert({excluded.st_dev, excluded.st_ino});
    CollectFolders(folders, folder, 0, seen, cancelled, options);
    for (const auto& f : folders) {
        if (cancelled && cancelled()) return;
        std::error_code ec;
        std::vector<std::string> files;
        for (auto it = std::filesystem::directory_iterator(f, ec); !ec && it != std::filesystem::directory_iterator();
             it.increment(ec)) {
            if (cancelled && cancelled()) return;
            std::error_code typeError;
            if (it->is_directory(typeError)) continue;
            if (options.skipHidden && Hidden(it->path())) continue;
            if (options.knownOnly && !IsKnownSourceExtension(it->path().string())) continue;
            // Links are followed a bounded number of hops; a dangling or looping link is dropped.
            std::string path = it->path().string();
            if (it->is_symlink(typeError)) {
                std::error_code linkError;
                std::filesystem::path target = it->path();
                int hops = 0;
                while (std::filesystem::is_symlink(target, linkError) && hops++ < kMaxLinkHops) {
                    target = std::filesystem::absolute(target.parent_path() / std::filesystem::read_symlink(target, linkError));
                    if (linkError) break;
                }
                if (linkError || hops > kMaxLinkHops || !std::filesystem::is_regular_file(target, linkError)) continue;
            }
            files.push_back(path);
        }
        std::sort(files.begin(), files.end());
        for (auto& path : files) {
            if (FilterStep(path, settings)) out.push_back(path);
        }
    }
}

}  // namespace pelloran
