#include "app/FileList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/Paths.h"
#include "app/Shortcut.h"
#include "decode/AudioDecoder.h"

namespace pelloran {

const char* const kDatFileNote =
    "DAT files (Video CD tracks) are converted with Pelloran Video Converter, not with this program.";
const char* const kCdaFromDiskNote =
    "IMPORTANT: please DO NOT add CDA file from hard drive, but add CDA file from CD drive.";
const char* const kNotRegularFileNote = "Not a regular file";
const char* const kFlashFileNote =
    "SWF and FLV files are converted with Pelloran Video Converter, not with this program.";

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Bound on nested folder levels and on link hops: cuts link cycles.
constexpr int kMaxFolderDepth = 64;
constexpr int kMaxLinkHops = 8;

}  // namespace

ProbeOutcome ProbeFile(const std::string& path, std::optional<ReaderKind> preferred) {
    ProbeOutcome outcome;
    // Only regular files are opened: a FIFO or device could block or never end.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        outcome.note = std::strerror(errno);
        return outcome;
    }
    if (!S_ISREG(st.st_mode)) {
        outcome.note = kNotRegularFileNote;
        outcome.notRegular = true;
        return outcome;
    }
    if (const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); fd >= 0) {
        close(fd);
    } else {
        outcome.note = std::strerror(errno);
        return outcome;
    }
    const std::string ext = Lower(ExtensionPart(path));
    const uint16_t code = InputFormatFromPath(path);
    if (ext == ".dat") {
        outcome.note = kDatFileNote;
        return outcome;
    }
    DecoderContext context;
    context.preferred = preferred;
    std::unique_ptr<AudioDecoder> decoder = CreateDecoder(path, code, 0, false, context);
    if (!decoder) {
        if (code == kInputCda) outcome.note = kCdaFromDiskNote;
        else if (ext == ".swf" || ext == ".flv") outcome.note = kFlashFileNote;
        return outcome;
    }
    FileItem& item = outcome.item;
    item.sourcePath = path;
    item.formatCode = code;
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
    decoder->Close();
    outcome.ok = true;
    return outcome;
}

std::string DurationText(uint32_t seconds) {
    if (seconds == 0) return {};
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%02u:%02u", seconds / 60, seconds % 60);
    return text;
}

std::string BitRateText(uint32_t kbps) { return kbps == 0 ? std::string{} : std::to_string(kbps) + " kbps"; }

std::string FrequencyText(uint32_t hz) { return hz == 0 ? std::string{} : std::to_string(hz) + " Hz"; }

std::string ChannelsText(const FileItem& item) {
    if (item.formatCode == kInputMp3) {
        switch (item.channelMode) {
            case 0: return "Stereo";
            case 1: return "J-Stereo";
            case 2: return "Dual Channel";
            case 3: return "Mono";
            default: return {};
        }
    }
    switch (item.channels) {
        case 0:
        case 1: return "Mono";
        case 2: return "Stereo";
        case 6: return "5.1";
        default: return std::to_string(item.channels);
    }
}

std::string PathIndex::Key(const std::string& path) {
    // An existing file is known by its identity, whatever path or link reaches it.
    if (const auto id = IdentityOf(path)) return "\x01" + std::to_string(id->device) + ":" + std::to_string(id->inode);
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
        std::string ext = Lower(ExtensionPart(path));
        if (!ext.empty()) ext.erase(0, 1);
        if (std::find(list.begin(), list.end(), ext) != list.end()) return true;
        std::string target;
        if (ext != "lnk" || !ResolveShortcut(path, target)) return false;
        path = target;
    }
    return false;
}

namespace {

void CollectFolders(std::vector<std::string>& out, const std::string& folder, int depth,
                    std::set<std::pair<dev_t, ino_t>>& seen, const ScanCancel& cancelled) {
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
        if (it->is_directory(typeError)) children.push_back(it->path().string());
    }
    std::sort(children.begin(), children.end());
    for (const auto& child : children) CollectFolders(out, child, depth + 1, seen, cancelled);
}

}  // namespace

void ScanFolder(std::vector<std::string>& out, const std::string& folder, const ConvertSettings& settings,
                const ScanCancel& cancelled) {
    std::vector<std::string> folders;
    std::set<std::pair<dev_t, ino_t>> seen;
    CollectFolders(folders, folder, 0, seen, cancelled);
    for (const auto& f : folders) {
        if (cancelled && cancelled()) return;
        std::error_code ec;
        std::vector<std::string> files;
        for (auto it = std::filesystem::directory_iterator(f, ec); !ec && it != std::filesystem::directory_iterator();
             it.increment(ec)) {
            if (cancelled && cancelled()) return;
            std::error_code typeError;
            if (it->is_directory(typeError)) continue;
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
