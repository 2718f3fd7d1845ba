#include "app/Mirror.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <climits>
#include <cstdio>
#include <cstring>

#include "app/FileList.h"
#include "app/OutputNaming.h"
#include "formats/OutputFormat.h"
#include "formats/SettingsTable.h"
#include "media/TagRecord.h"
#include "platform/Paths.h"

namespace pelloran {

namespace {

constexpr const char* kHeader = "# pelloran mirror 1";
constexpr const char* kLockName = ".pelloran-mirror.lock";
constexpr const char* kPendingName = ".pelloran-mirror.pending";
// The journal holds the notes of targets not yet in the manifest: a few per live run. More is not ours.
constexpr size_t kMaxPendingBytes = 16u << 20;
// A manifest line holds two paths and three numbers; anything longer is not one of ours.
constexpr size_t kMaxLine = 2 * 4 * PATH_MAX + 128;
constexpr int kMaxDepth = 128;
// Names tried around files in the way before a source is left unconverted.
constexpr int kMaxRenames = 100;

// An owned descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// An owned folder stream.
class Dir {
public:
    explicit Dir(const std::string& path) : dir_(opendir(path.c_str())) {}
    ~Dir() {
        if (dir_ != nullptr) closedir(dir_);
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        if (text[i] == '\\') out += '\\';
        else if (text[i] == 't') out += '\t';
        else if (text[i] == 'n') out += '\n';
        else return false;
    }
    return true;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.empty() || text.size() > 20) return false;
    bool negative = false;
    if (std::is_signed_v<T> && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
        if (text.empty()) return false;
    }
    unsigned long long v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const unsigned long long next = v * 10 + static_cast<unsigned>(c - '0');
        if (next / 10 != v) return false;
        v = next;
    }
    if (std::is_signed_v<T> && v > static_cast<unsigned long long>(INT64_MAX)) return false;
    value = negative ? static_cast<T>(-static_cast<long long>(v)) : static_cast<T>(v);
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// The mirror folder's lock file, held; -1 with errno.
int LockMirror(const std::string& folder) {
    const int fd = open((folder + kLockName).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Replaces folder/name by text through a temporary file and a rename.
bool ReplaceFile(const std::string& folder, const char* name, const std::string& text) {
    std::string temp = folder + name + ".XXXXXX";
    Fd out(mkstemp(temp.data()));
    if (out.get() < 0) return false;
    const bool ok = WriteAll(out.get(), text) && fchmod(out.get(), 0644) == 0 && fsync(out.get()) == 0 &&
                    std::rename(temp.c_str(), (folder + name).c_str()) == 0;
    if (!ok) {
        const int error = errno;
        unlink(temp.c_str());
        errno = error;
    }
    return ok;
}

// One note of the journal: "device<TAB>inode<TAB>target<TAB>source<TAB>work file", paths relative and escaped.
struct PendingNote {
    uint64_t device = 0, inode = 0;
    std::string target, source, work;
};

std::string PendingLine(const PendingNote& n) {
    return std::to_string(n.device) + '\t' + std::to_string(n.inode) + '\t' + Escape(n.target) + '\t' +
           Escape(n.source) + '\t' + Escape(n.work) + '\n';
}

bool ParsePendingLine(std::string_view line, PendingNote& note) {
    std::string_view fields[5];
    for (size_t i = 0, from = 0; i < 5; ++i) {
        const size_t tab = line.find('\t', from);
        if ((tab == std::string_view::npos) != (i == 4)) return false;
        fields[i] = line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
        from = tab + 1;
    }
    return line.size() <= kMaxLine && ParseNumber(fields[0], note.device) && ParseNumber(fields[1], note.inode) &&
           Unescape(fields[2], note.target) && Unescape(fields[3], note.source) && Unescape(fields[4], note.work) &&
           IsContainedPath(note.target) && IsContainedPath(note.source) && IsContainedPath(note.work);
}

// The journal's notes, read up to kMaxPendingBytes; lines that do not parse are left out. present: the file is there.
std::vector<PendingNote> LoadPending(const std::string& folder, bool* present = nullptr) {
    std::vector<PendingNote> notes;
    Fd fd(open((folder + kPendingName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (present != nullptr) *present = fd.get() >= 0;
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return notes;
    std::string text;
    char buffer[65536];
    for (ssize_t got; text.size() < kMaxPendingBytes && (got = read(fd.get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a line cut short is not a note
        PendingNote note;
        if (ParsePendingLine(std::string_view(text).substr(start, end - start), note)) notes.push_back(std::move(note));
        start = end + 1;
    }
    return notes;
}

// True when path is the very file the note names (a regular file, no link).
bool IsNotedFile(const std::string& path, const PendingNote& note) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_dev) == note.device &&
           static_cast<uint64_t>(st.st_ino) == note.inode;
}

// Under the lock, after the manifest was written: notes of targets it lists go, and so do notes whose file is
// neither the work file still waiting for its rename nor the target it became.
void CompactPending(const std::string& folder, const MirrorManifest& manifest) {
    bool present = false;
    const std::vector<PendingNote> notes = LoadPending(folder, &present);
    if (!present) return;
    std::set<std::string> listed;
    for (const auto& [source, record] : manifest.bySource()) listed.insert(record.target);
    std::string text;
    for (const PendingNote& note : notes) {
        // The work file first: its rename between the two checks leaves it at the target.
        if (listed.count(note.target) == 0 &&
            (IsNotedFile(folder + note.work, note) || IsNotedFile(folder + note.target, note)))
            text += PendingLine(note);
    }
    if (text.empty()) unlink((folder + kPendingName).c_str());
    else ReplaceFile(folder, kPendingName, text);
}

struct Found {
    std::string rel;
    std::string path;
    uint64_t size = 0;
    int64_t mtimeNs = 0;
};

// Every regular file below folder (hidden names, linked folders and the mirror folder left out), with its
// size and mtime from the one stat the walk makes anyway.
void Walk(const std::string& folder, const std::string& rel, const std::string& skip, int depth,
          const std::function<bool()>& cancelled, std::vector<Found>& out) {
    if (depth > kMaxDepth || (cancelled && cancelled())) return;
    Dir dir(folder);
    if (dir.get() == nullptr) return;
    std::vector<std::string> folders;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        struct stat st {};
        if (fstatat(dirfd(dir.get()), entry->d_name, &st, 0) != 0) continue;
        const std::string path = folder + name;
        if (S_ISDIR(st.st_mode)) {
            struct stat link {};
            if (fstatat(dirfd(dir.get()), entry->d_name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode))
                continue;
            if (path + "/" != skip) folders.push_back(name);
        } else if (S_ISREG(st.st_mode)) {
            out.push_back({rel + name, path, static_cast<uint64_t>(st.st_size),
                           static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
        }
    }
    for (const std::string& name : folders) Walk(folder + name + "/", rel + name + "/", skip, depth + 1, cancelled, out);
}

bool Occupied(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool StatFile(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& name) {
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
    });
}

// Sources that lose something at every encoding: copied as they are with --copy-lossy. (M4A may hold ALAC.)
bool IsLossyExtension(const std::string& path) {
    static const std::set<std::string> lossy = {".mp3", ".mp2", ".ogg", ".oga", ".opus", ".aac",
                                                ".wma", ".mpc", ".spx", ".amr", ".awb", ".ac3"};
    return lossy.count(ToLowerAscii(ExtensionPart(FileNamePart(path)))) != 0;
}

// The output's bit rate in kbit/s, 0 when the settings leave it to the source or to a quality mode.
int OutputKbps(const ConvertSettings& settings) {
    const OutputFormatDescriptor* format = FindOutputFormat(settings.OutputFormat);
    if (format == nullptr || format->options == nullptr) return 0;
    const FormatControls& c = format->options->controls;
    if (c.bitrate[0] == '\0') return 0;
    if (c.automatic[0] != '\0' && NumberSetting(settings, c.automatic) != 0) return 0;
    if (c.qualitySwitch[0] != '\0' && NumberSetting(settings, c.qualitySwitch) != 0) return 0;
    return NumberSetting(settings, c.bitrate) / std::max<int32_t>(1, c.bitrateScale);
}

// A lossy source no better than the output is copied: every lossless output, an output of unknown bit rate, or
// one at least at the source's.
bool CopiesLossy(const std::string& path, const ConvertSettings& settings) {
    if (!IsLossyExtension(path)) return false;
    const OutputFormatDescriptor* format = FindOutputFormat(settings.OutputFormat);
    if (format != nullptr && format->lossless) return true;
    const int output = OutputKbps(settings);
    if (output == 0) return true;
    const ProbeOutcome probe = ProbeFile(path);
    return !probe.ok || probe.item.bitrateKbps == 0 || static_cast<int>(probe.item.bitrateKbps) <= output;
}

}  // namespace

bool IsContainedPath(const std::string& relative) {
    if (relative.empty() || relative.front() == '/') return false;
    for (size_t start = 0; start <= relative.size();) {
        const size_t slash = std::min(relative.find('/', start), relative.size());
        const std::string_view part(relative.data() + start, slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = slash + 1;
    }
    return relative.find('\0') == std::string::npos;
}

uint64_t StablePathHash(const std::string& path) {
    uint64_t hash = 1469598103934665603ull;
    for (const char c : path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

void MirrorManifest::Parse(const std::string& text) {
    bySource_.clear();
    damaged_ = 0;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (first) {
            first = false;
            if (line == kHeader) continue;
        }
        if (line.empty()) continue;
        std::vector<std::string_view> fields;
        for (size_t from = 0;;) {
            const size_t tab = line.find('\t', from);
            fields.push_back(line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from));
            if (tab == std::string_view::npos || fields.size() > 5) break;
            from = tab + 1;
        }
        MirrorRecord record;
        if (line.size() > kMaxLine || fields.size() != 5 || !Unescape(fields[0], record.target) ||
            !Unescape(fields[1], record.source) || !ParseNumber(fields[2], record.size) ||
            !ParseNumber(fields[3], record.mtimeNs) || !ParseNumber(fields[4], record.settings) ||
            !IsContainedPath(record.target) || !IsContainedPath(record.source) ||
            FileNamePart(record.target) == kFileName || FileNamePart(record.target) == kLockName ||
            FileNamePart(record.target) == kPendingName) {
            ++damaged_;
            continue;
        }
        bySource_[record.source] = std::move(record);
    }
}

MirrorManifest::LoadStatus MirrorManifest::Load(const std::string& mirrorFolder) {
    bySource_.clear();
    damaged_ = 0;
    const std::string path = (mirrorFolder.back() == '/' ? mirrorFolder : mirrorFolder + "/") + kFileName;
    Fd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return errno == ENOENT ? LoadStatus::Missing : LoadStatus::Unreadable;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return LoadStatus::Unreadable;
    std::string text;
    char buffer[65536];
    for (ssize_t got; (got = read(fd.get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            return LoadStatus::Unreadable;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    Parse(text);
    return LoadStatus::Loaded;
}

std::string MirrorManifest::Text() const {
    std::string text = std::string(kHeader) + "\n";
    for (const auto& [source, r] : bySource_) {
        text += Escape(r.target) + '\t' + Escape(r.source) + '\t' + std::to_string(r.size) + '\t' +
                std::to_string(r.mtimeNs) + '\t' + std::to_string(r.settings) + '\n';
    }
    return text;
}

bool CommitManifest(const std::string& mirrorFolder, const std::vector<MirrorRecord>& put,
                    const std::vector<std::string>& removedSources) {
    const std::string folder = mirrorFolder.back() == '/' ? mirrorFolder : mirrorFolder + "/";
    Fd lock(LockMirror(folder));
    if (lock.get() < 0) return false;
    MirrorManifest manifest;
    if (manifest.Load(folder) == MirrorManifest::LoadStatus::Unreadable) return false;
    for (const std::string& source : removedSources) manifest.Remove(source);
    for (const MirrorRecord& record : put) manifest.Put(record);
    if (!ReplaceFile(folder, MirrorManifest::kFileName, manifest.Text())) return false;
    CompactPending(folder, manifest);
    return true;
}

FileItem MirrorItem(const MirrorStep& step, SettledNames& settled) {
    FileItem item;
    item.sourcePath = step.source;
    item.subFolder = step.subFolder;
    if (!step.suffix.empty()) settled.Set(step.source, step.suffix);
    return item;
}

MirrorChanges::MirrorChanges(std::string mirrorFolder, const MirrorPlan& plan)
    : folder_(mirrorFolder.back() == '/' ? std::move(mirrorFolder) : mirrorFolder + "/"), plan_(plan) {}

std::string MirrorChanges::Relative(const std::string& path) const {
    return path.rfind(folder_, 0) == 0 ? path.substr(folder_.size()) : path;
}

MirrorChanges::Outcome MirrorChanges::Copy(const MirrorStep& step) {
    bool refused = false;
    const bool ok = CopyAsIs(step.source, step.target, [&](const std::string& work) {
        refused = !MayCommit(step.relSource, work, step.target);
        return !refused;
    });
    if (refused) return Outcome::Refused;
    if (!ok) return Outcome::Failed;
    Put({Relative(step.target), step.relSource, step.size, step.mtimeNs, kCopiedAsIs});
    if (!step.oldTarget.empty() && plan_.planned.count(step.oldTarget) == 0)
        RemoveMirrored(folder_, Relative(step.oldTarget));
    return Outcome::Done;
}

bool MirrorChanges::Prune(const MirrorStep& step) {
    const bool removed = step.target.empty() || RemoveMirrored(folder_, Relative(step.target));
    Remove(step.relSource);
    return removed;
}

void MirrorChanges::Converted(const MirrorStep& step, const std::string& target) {
    Put({Relative(target), step.relSource, step.size, step.mtimeNs, plan_.fingerprint});
    if (!step.oldTarget.empty() && plan_.planned.count(step.oldTarget) == 0)
        RemoveMirrored(folder_, Relative(step.oldTarget));
}

bool MirrorChanges::MayCommit(const std::string& relSource, const std::string& workPath, const std::string& target) {
    struct stat st {};
    std::lock_guard lock(mutex_);
    if (lstat(target.c_str(), &st) == 0 && plan_.ownTargets.count(target) == 0 && committed_.count(target) == 0)
        return false;
    NotePending(folder_, Relative(target), relSource, workPath);
    committed_.insert(target);
    return true;
}

void MirrorChanges::Put(MirrorRecord record) {
    std::lock_guard lock(mutex_);
    put_.push_back(std::move(record));
    if (std::chrono::steady_clock::now() - last_ > std::chrono::seconds(1)) FlushLocked();
}

void MirrorChanges::Remove(std::string source) {
    std::lock_guard lock(mutex_);
    removed_.push_back(std::move(source));
    if (std::chrono::steady_clock::now() - last_ > std::chrono::seconds(1)) FlushLocked();
}

bool MirrorChanges::Flush() {
    std::lock_guard lock(mutex_);
    return FlushLocked();
}

bool MirrorChanges::FlushLocked() {
    last_ = std::chrono::steady_clock::now();
    if (put_.empty() && removed_.empty()) return true;
    if (!CommitManifest(folder_, put_, removed_)) return false;
    put_.clear();
    removed_.clear();
    return true;
}

bool NotePending(const std::string& mirrorFolder, const std::string& relativeTarget,
                 const std::string& relativeSource, const std::string& workPath) {
    const std::string folder = mirrorFolder.back() == '/' ? mirrorFolder : mirrorFolder + "/";
    struct stat st {};
    if (workPath.rfind(folder, 0) != 0 || lstat(workPath.c_str(), &st) != 0) return false;
    const PendingNote note{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), relativeTarget,
                           relativeSource, workPath.substr(folder.size())};
    Fd lock(LockMirror(folder));
    if (lock.get() < 0) return false;
    Fd out(open((folder + kPendingName).c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (out.get() < 0) return false;
    // A line cut short by a full disk is ended first, so that it does not swallow this note.
    struct stat journal {};
    char last = '\n';
    if (fstat(out.get(), &journal) == 0 && journal.st_size > 0 &&
        pread(out.get(), &last, 1, journal.st_size - 1) != 1)
        last = '\n';
    return WriteAll(out.get(), (last == '\n' ? "" : "\n") + PendingLine(note));
}

uint64_t OutputFingerprint(const ConvertSettings& settings) {
    static const std::set<std::string> notShaping = {
        "DestOutputFolderOpt", "CreateDirs",    "BrowseOutputFolder", "OutputFiles2MyDocuments",
        "TargetExistsOpt",     "EnableExtFilter", "ParallelJobs",     "OptStartPageIndex",
        "VerifyOutput",        "Folder",        "DestSpecifiedFolder", "FilterExts"};
    std::set<std::string> formatRows, ownRows;
    std::vector<std::string> tagGroups;
    std::string ownTags;
    for (const OutputFormatDescriptor* format : OutputFormatList()) {
        if (format->options == nullptr) continue;
        const bool own = format->code == settings.OutputFormat;
        for (const auto& row : format->options->numbers) (own ? ownRows : formatRows).insert(row.name);
        for (const auto& row : format->options->texts) (own ? ownRows : formatRows).insert(row.name);
        if (format->options->tagGroup != nullptr) {
            tagGroups.push_back(std::string(format->options->tagGroup) + ".");
            if (own) ownTags = tagGroups.back();
        }
    }
    std::string text = "format=" + std::to_string(settings.OutputFormat) + "\ntrust=" +
                       std::to_string(settings.trustGainTags ? 1 : 0) + "\n";
    for (const SettingInfo& s : DescribeSettings(settings)) {
        const bool tagRow = std::any_of(tagGroups.begin(), tagGroups.end(),
                                        [&](const std::string& g) { return s.name.rfind(g, 0) == 0; });
        const bool own = ownRows.count(s.name) != 0 || (!ownTags.empty() && s.name.rfind(ownTags, 0) == 0);
        const bool general = !tagRow && formatRows.count(s.name) == 0 && ownRows.count(s.name) == 0;
        if (own || (general && notShaping.count(s.name) == 0)) text += s.name + "=" + s.currentValue + "\n";
    }
    // 0 and kCopiedAsIs stay free for "none" and "copied".
    return std::max<uint64_t>(StablePathHash(text), 2);
}

MirrorPlan PlanMirror(const std::string& sourceFolder, const std::string& mirrorFolder,
                      const ConvertSettings& settings, const MirrorOptions& options,
                      const std::function<bool()>& cancelled) {
    MirrorPlan plan;
    const std::string src = sourceFolder.back() == '/' ? sourceFolder : sourceFolder + "/";
    const std::string dest = mirrorFolder.back() == '/' ? mirrorFolder : mirrorFolder + "/";
    MirrorManifest manifest;
    manifest.Load(dest);
    plan.damagedLines = manifest.damagedLines();
    // Targets a killed run committed before it could list them are the mirror's own where the file is the one
    // noted; a source without a record takes the note as one that is never up to date (converted again, or pruned).
    for (const PendingNote& note : LoadPending(dest)) {
        if (!IsNotedFile(dest + note.target, note)) continue;
        plan.ownTargets.insert(dest + note.target);
        if (manifest.bySource().count(note.source) == 0) manifest.Put({note.target, note.source, 0, 0, 0});
    }
    for (const auto& [source, record] : manifest.bySource()) plan.ownTargets.insert(dest + record.target);
    // A file in the way that the mirror did not make.
    const auto foreign = [&](const std::string& target) {
        return plan.ownTargets.count(target) == 0 && Occupied(target);
    };
    plan.fingerprint = OutputFingerprint(settings);
    const std::string outExt = OutputExtension(settings.OutputFormat);
    const bool pattern = !settings.OutputNamePattern.empty();
    ConvertSettings naming = settings;
    naming.DestOutputFolderOpt = kOutputIntoFolder;
    naming.DestSpecifiedFolder = dest;
    naming.CreateDirs = 0;

    std::vector<Found> found;
    Walk(src, "", dest, 0, cancelled, found);
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.rel < b.rel; });
    const auto mine = [&](const std::string& rel) {
        return StablePathHash(rel) % static_cast<uint64_t>(std::max(1, options.shardN)) ==
               static_cast<uint64_t>(std::max(1, options.shardK) - 1);
    };

    std::set<std::string> taken;  // folded targets owned before names are settled
    std::set<std::string> present;
    std::vector<MirrorStep> converts;
    std::vector<FileItem> fresh;  // converts whose names are settled now
    std::vector<size_t> freshStep;
    std::vector<MirrorStep> copies;
    const auto own = [&](const std::string& target) {
        plan.planned.insert(target);
        taken.insert(FoldedTarget(target));
    };
    for (const Found& f : found) {
        const bool companion = MatchesAny(options.copyOther, FileNamePart(f.rel));
        const std::string ext = ToLowerAscii(ExtensionPart(FileNamePart(f.rel)));
        if (!companion && (ext == ".cue" || !IsKnownSourceExtension(f.path))) continue;
        present.insert(f.rel);
        const auto at = manifest.bySource().find(f.rel);
        const MirrorRecord* record = at != manifest.bySource().end() ? &at->second : nullptr;
        const bool unchanged = record != nullptr && record->size == f.size && record->mtimeNs == f.mtimeNs;
        MirrorStep step;
        step.source = f.path;
        step.relSource = f.rel;
        step.size = f.size;
        step.mtimeNs = f.mtimeNs;
        const auto copyStep = [&] {
            step.action = MirrorAction::Copy;
            step.target = dest + f.rel;
            if (foreign(step.target)) {
                const std::string ext = ExtensionPart(FileNamePart(f.rel));
                const std::string base = step.target.substr(0, step.target.size() - ext.size());
                step.blocked = true;
                for (int n = 1; options.foreignPolicy == kTargetRename && n <= kMaxRenames; ++n) {
                    const std::string name = base + "_" + std::to_string(n) + ext;
                    if (taken.count(FoldedTarget(name)) == 0 && !foreign(name)) {
                        step.target = name;
                        step.blocked = false;
                        break;
                    }
                }
                if (options.foreignPolicy == kTargetOverwrite) {
                    step.blocked = false;
                    plan.ownTargets.insert(step.target);
                }
            }
            if (record != nullptr && dest + record->target != step.target) step.oldTarget = dest + record->target;
            own(step.target);
            if (mine(f.rel)) copies.push_back(step);
        };
        if (unchanged && (record->settings == plan.fingerprint ||
                          (record->settings == kCopiedAsIs && (companion || options.copyLossy))) &&
            StatFile(dest + record->target)) {
            own(dest + record->target);
            if (mine(f.rel)) ++plan.upToDate;
            continue;
        }
        if (companion || (options.copyLossy && CopiesLossy(f.path, settings))) {
            copyStep();
            continue;
        }
        step.action = MirrorAction::Convert;
        step.subFolder = pattern ? std::string{} : FolderPart(f.rel);
        FileItem item;
        item.sourcePath = f.path;
        item.subFolder = step.subFolder;
        // A source the manifest names with these settings keeps its target (with a pattern, only while unchanged:
        // new tags may give a new name).
        std::string plain;
        Note why;
        if (record != nullptr && record->settings == plan.fingerprint && (!pattern || unchanged) &&
            PlainTarget(item, naming, plain, why)) {
            const std::string stem = plain.substr(0, plain.size() - outExt.size());
            const std::string target = dest + record->target;
            if (target.size() >= stem.size() + outExt.size() && target.rfind(stem, 0) == 0 &&
                target.compare(target.size() - outExt.size(), outExt.size(), outExt) == 0) {
                step.suffix = target.substr(stem.size(), target.size() - stem.size() - outExt.size());
                if (step.suffix.find('/') == std::string::npos) {
                    step.target = target;
                    own(target);
                    converts.push_back(step);
                    continue;
                }
                step.suffix.clear();
            }
        }
        if (record != nullptr) step.oldTarget = dest + record->target;
        fresh.push_back(std::move(item));
        freshStep.push_back(converts.size());
        converts.push_back(step);
    }

    // New names are settled around every target already owned, over the whole plan (all shards alike), and
    // with the rename policy settled again around files the mirror did not make until none is in the way.
    std::vector<FileItem*> pointers;
    for (FileItem& item : fresh) pointers.push_back(&item);
    std::set<std::string> pinned = taken;
    for (int round = 0;; ++round) {
        const SettledNames settled = SettleNames(pointers, naming, pinned);
        bool again = false;
        for (size_t i = 0; i < fresh.size(); ++i) {
            MirrorStep& step = converts[freshStep[i]];
            std::string plain;
            Note why;
            if (!PlainTarget(fresh[i], naming, plain, why)) continue;  // the run says why
            step.suffix = settled.SuffixOf(step.source);
            step.target = plain.substr(0, plain.size() - outExt.size()) + step.suffix + outExt;
            step.blocked = foreign(step.target);
            if (step.blocked && options.foreignPolicy == kTargetRename && round < kMaxRenames)
                again = pinned.insert(FoldedTarget(step.target)).second || again;
        }
        if (!again) break;
    }
    for (const size_t at : freshStep) {
        MirrorStep& step = converts[at];
        if (step.target.empty()) continue;
        plan.planned.insert(step.target);
        if (step.blocked && options.foreignPolicy == kTargetOverwrite) {
            step.blocked = false;
            plan.ownTargets.insert(step.target);
        }
    }
    for (MirrorStep& step : converts) {
        if (step.oldTarget == step.target) step.oldTarget.clear();
        if (mine(step.relSource)) plan.steps.push_back(std::move(step));
    }
    for (MirrorStep& step : copies) {
        if (step.oldTarget == step.target) step.oldTarget.clear();
        plan.steps.push_back(std::move(step));
    }
    std::stable_sort(plan.steps.begin(), plan.steps.end(),
                     [](const MirrorStep& a, const MirrorStep& b) { return a.relSource < b.relSource; });

    // Records of sources that are gone: their targets go with --prune (never one another step now uses).
    for (const auto& [source, record] : manifest.bySource()) {
        if (present.count(source) != 0 || !mine(source)) continue;
        if (!options.prune) {
            ++plan.goneKept;
            continue;
        }
        MirrorStep step;
        step.action = MirrorAction::Prune;
        step.relSource = source;
        if (plan.planned.count(dest + record.target) == 0) step.target = dest + record.target;
        plan.steps.push_back(std::move(step));
    }
    return plan;
}

bool CopyAsIs(const std::string& source, const std::string& target,
              const std::function<bool(const std::string&)>& committing) {
    if (!EnsureFolder(FolderPart(target), true)) return false;
    Fd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return false;
    std::string temp = FolderPart(target) + ".pelloran-copy-XXXXXX";
    Fd out(mkstemp(temp.data()));
    if (out.get() < 0) return false;
    flock(out.get(), LOCK_EX | LOCK_NB);  // a live copy is never swept
    bool ok = true;
    char buffer[1 << 16];
    for (ssize_t got; ok && (got = read(in.get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t wrote = write(out.get(), buffer + done, static_cast<size_t>(got - done));
            if (wrote < 0 && errno == EINTR) continue;
            ok = wrote > 0;
            if (ok) done += wrote;
        }
    }
    if (ok && committing && !committing(temp)) {
        ok = false;
        errno = EEXIST;
    }
    ok = ok && fchmod(out.get(), 0644) == 0 && std::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        unlink(temp.c_str());
        errno = error;
    }
    return ok;
}

void SweepMirrorLeftovers(const std::set<std::string>& folders) {
    const auto leftover = [](std::string_view name) {
        constexpr std::string_view prefix = ".pelloran-";
        if (name.rfind(prefix, 0) != 0) return false;
        const std::string_view rest = name.substr(prefix.size());
        const auto random = [](std::string_view six) {
            return six.size() == 6 && std::all_of(six.begin(), six.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
        };
        if (rest.rfind("copy-", 0) == 0) return random(rest.substr(5));
        // The naming's case probe, left by a run killed while it stood.
        if (rest.rfind("probe-", 0) == 0) return random(rest.substr(6));
        if (rest.rfind("mirror.pending.", 0) == 0) return random(rest.substr(15));
        if (rest.rfind("mirror.", 0) == 0) return random(rest.substr(7));
        return rest.size() > 6 && random(rest.substr(0, 6)) && IsOutputExtension(rest.substr(6));
    };
    const time_t now = time(nullptr);
    for (const std::string& folder : folders) {
        Dir dir(folder);
        if (dir.get() == nullptr) continue;
        while (const dirent* entry = readdir(dir.get())) {
            if (!leftover(entry->d_name)) continue;
            Fd fd(openat(dirfd(dir.get()), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat st {};
            if (fd.get() >= 0 && fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime >= 2 &&
                flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
                unlinkat(dirfd(dir.get()), entry->d_name, 0);
        }
    }
}

bool RemoveMirrored(const std::string& mirrorFolder, const std::string& relativeTarget) {
    if (!IsContainedPath(relativeTarget)) return false;
    const std::string dest = ResolveFolderPath(mirrorFolder);
    const std::string root = dest.back() == '/' ? dest : dest + "/";
    const std::string path = root + relativeTarget;
    // The folder must be the mirror's own, reached through no link.
    const std::string folder = ResolveFolderPath(FolderPart(path));
    if ((folder.back() == '/' ? folder : folder + "/") != FolderPart(path)) return false;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode) || unlink(path.c_str()) != 0) return false;
    for (std::string up = FolderPart(path); up.size() > root.size() && rmdir(up.c_str()) == 0;)
        up = FolderPart(up.substr(0, up.size() - 1));
    return true;
}

}  // namespace pelloran
