#include "app/ConversionRun.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "app/ConvertLoop.h"
#include "app/LoudnessPass.h"
#include "app/Verify.h"
#include "formats/EncodingParams.h"
#include "app/OutputNaming.h"
#include "app/FileList.h"
#include "platform/Paths.h"
#include "platform/TagWriter.h"
#include "app/Progress.h"
#include "decode/AudioDecoder.h"
#include "encode/WmaWriter.h"
#include "platform/wm.h"

namespace pelloran {

const char* const kSoundFontDownloadAddress = "https://pelloran.org/soundfont";


namespace {

// Permissions of a new file under the process umask (read once; the umask call is not thread-safe).
mode_t NewFileMode() {
    static const mode_t mode = [] {
        mode_t mask = 022;
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Umask:", 0) == 0) mask = static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
        }
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

constexpr const char* kWorkPrefix = ".pelloran-";
// A work file whose lock is free is left over only when it is older than this (a new one is locked at once).
constexpr time_t kStaleWorkSeconds = 2;

// A hidden file beside the target that the loop writes. It holds an advisory lock while it exists, so that
// another run can tell a live work file from one left by a killed process; it is removed unless committed.
class WorkFile {
public:
    explicit WorkFile(const std::string& target) {
        const std::string ext = ExtensionPart(target);
        for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
            std::string path = FolderPart(target) + kWorkPrefix + "XXXXXX" + ext;
            const int fd = mkstemps(path.data(), static_cast<int>(ext.size()));
            if (fd < 0) {
                error_ = errno;
                return;
            }
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
                fd_ = fd;
                path_ = path;
            } else {
                unlink(path.c_str());
                close(fd);
            }
        }
    }
    ~WorkFile() {
        if (!committed_ && !path_.empty()) unlink(path_.c_str());
        if (fd_ >= 0) close(fd_);
    }
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Why no work file could be made: errno (ENOSPC, EACCES...), 0 when every one made stayed locked.
    int error() const { return error_; }
    const std::string& path() const { return path_; }

    // Moves the finished file onto the target. Without replace an existing target is never touched: false
    // with errno EEXIST then.
    bool Commit(const std::string& target, bool replace) {
        fchmod(fd_, NewFileMode());
        bool done = false;
        if (replace) {
            done = std::rename(path_.c_str(), target.c_str()) == 0;
        } else if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            done = true;
        } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            done = CommitWithoutNoReplace(target);
        }
        committed_ = done;
        return done;
    }

private:
    // File systems without no-replace renames (FUSE FAT, some network shares): a hard link fails when the
    // target appeared meanwhile; where links are refused too, the target name is created exclusively and the
    // work file renamed over that very file (checked by identity).
    bool CommitWithoutNoReplace(const std::string& target) {
        if (link(path_.c_str(), target.c_str()) == 0) {
            unlink(path_.c_str());
            return true;
        }
        if (errno == EEXIST) return false;
        const int placeholder = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (placeholder < 0) return false;
        struct stat own {};
        const bool stated = fstat(placeholder, &own) == 0;
        close(placeholder);
        struct stat now {};
        if (!stated || lstat(target.c_str(), &now) != 0 || now.st_dev != own.st_dev || now.st_ino != own.st_ino) {
            errno = EEXIST;
            return false;
        }
        if (std::rename(path_.c_str(), target.c_str()) == 0) return true;
        const int error = errno;
        unlink(target.c_str());
        errno = error;
        return false;
    }

    std::string path_;
    int error_ = 0;
    int fd_ = -1;
    bool committed_ = false;
};

// True for names of the exact shape of our work files: the prefix, mkstemps' six characters and an output
// extension. Any other file, ".pelloran-notes.txt" included, is the user's.
bool IsWorkFileName(std::string_view name) {
    const size_t prefix = std::strlen(kWorkPrefix);
    if (name.size() <= prefix + 6 || name.substr(0, prefix) != kWorkPrefix) return false;
    for (size_t i = prefix; i < prefix + 6; ++i) {
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    }
    return IsOutputExtension(name.substr(prefix + 6));
}

// Removes the work files in folder that no process holds: left by a kill or a power cut.
void SweepStaleWorkFiles(const std::string& folder) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return;
    const time_t now = time(nullptr);
    while (const dirent* entry = readdir(dir)) {
        if (!IsWorkFileName(entry->d_name)) continue;
        const int fd = openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime >= kStaleWorkSeconds &&
            flock(fd, LOCK_EX | LOCK_NB) == 0) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
        close(fd);
    }
    closedir(dir);
}

// The progress of one entry: passed on to the run's progress, and its fraction to the observer.
class EntryProgressSink : public ProgressSink {
public:
    EntryProgressSink(ProgressSink& run, RunObserver& observer, size_t index)
        : run_(run), observer_(observer), index_(index) {}
    void SetFileStep(const FileStep& step) override { run_.SetFileStep(step); }
    int FileBarWidth() const override { return run_.FileBarWidth(); }
    void SetFileBar(int position) override {
        run_.SetFileBar(position);
        const int width = run_.FileBarWidth();
        observer_.EntryProgress(index_, width > 0 ? std::clamp(static_cast<double>(position) / width, 0.0, 1.0) : 0.0);
    }
    void SetRunStep(const RunStep& step) override { run_.SetRunStep(step); }
    void SetRunRange(int count) override { run_.SetRunRange(count); }
    void StepRun() override { run_.StepRun(); }
    void Pump() override { run_.Pump(); }
    bool CancelRequested() const override { return run_.CancelRequested(); }

private:
    ProgressSink& run_;
    RunObserver& observer_;
    size_t index_;
};

// A measuring pass shows nothing; it only stops on Cancel.
class QuietProgress : public ProgressSink {
public:
    explicit QuietProgress(ProgressSink& run) : run_(run) {}
    void SetFileStep(const FileStep&) override {}
    int FileBarWidth() const override { return 1; }
    void SetFileBar(int) override {}
    void SetRunStep(const RunStep&) override {}
    void SetRunRange(int) override {}
    void StepRun() override {}
    void Pump() override { run_.Pump(); }
    bool CancelRequested() const override { return run_.CancelRequested(); }

private:
    ProgressSink& run_;
};

// The album an entry belongs to: its output folder and its ALBUM tag, or its source folder when it has none.
std::string AlbumKey(const std::string& target, const FileItem& item) {
    const std::string album = item.tags.Album;
    return FolderPart(target) + '\0' + (album.empty() ? "folder\0" + FolderPart(item.sourcePath) : "album\0" + FoldCase(album));
}

// One run: the plan of the whole list before the first write, then the plan executed entry by entry (in
// parallel), each entry prepared, converted, verified, committed and reported in turn.
class Run {
public:
    Run(std::vector<FileItem*>& items, const ConvertSettings& settings, ProgressSink& progress, RunObserver& observer,
        const RunOptions& options)
        : items_(items), settings_(settings), progress_(progress), observer_(observer), options_(options),
          count_(items.size()), formatName_(OutputFormatName(settings.OutputFormat)) {
        summary_.notes.assign(count_, Note{});
    }

    RunSummary Execute() {
        if (!Preconditions()) {
            summary_.aborted = true;
            return summary_;
        }
        progress_.SetRunRange(static_cast<int>(count_));
        progress_.Pump();
        Plan();
        if (!options_.dryRun && settings_.ReplayGainMode == kGainTagsAlbum) {
            GroupAlbums();
            if (settings_.NormalizeTarget != 0) MeasureAlbums();
        }
        RunEntries();
        summary_.cancelled = progress_.CancelRequested() || stop_;
        if (!summary_.cancelled && !options_.dryRun && settings_.BrowseOutputFolder != 0) ShowFirstOutput();
        return summary_;
    }

private:
    // What the plan decided for one entry.
    struct EntryPlan {
        bool named = false;
        bool replace = false;
        std::string target;
        Note why;  // why it has no target
    };
    // What an entry's steps found.
    struct Entry {
        size_t index = 0;
        FileItem* item = nullptr;
        EntryStatus status;  // what the entry shows unless it converts or is cancelled
        bool succeeded = false;
        EntryResult result;
        Note note;
        bool replace = false;
    };
    // The entries of one album: how many are still to finish, the gain that normalises them together.
    struct Album {
        std::vector<size_t> members;
        size_t remaining = 0;
        std::optional<NormaliseGain> gain;
    };
    static constexpr size_t kNoAlbum = SIZE_MAX;

    // WMA output needs its runtime, MIDI the SoundFont (asked once); false stops the run before it starts.
    bool Preconditions() {
        if (settings_.OutputFormat == kOutputWma && !WmaRuntimeReady() &&
            !CheckWmaRuntime(&observer_, [&](const std::string& address) { observer_.OpenAddress(address); }))
            return false;
        for (FileItem* item : items_) {
            if (item->formatCode != kInputMidi) continue;
            soundFontReady_ = options_.ensureSoundFont && options_.ensureSoundFont();
            if (!soundFontReady_) {
                const std::string folder = ProgramFolder();
                if (observer_.Ask(Question::SoundFontMissing, {folder})) {
                    observer_.OpenAddress(folder);
                    observer_.OpenAddress(kSoundFontDownloadAddress);
                    return false;
                }
            }
            break;
        }
        return true;
    }

    bool WaitsForSoundFont(const FileItem& item) const { return item.formatCode == kInputMidi && !soundFontReady_; }

    // The plan, for the whole list before the first write: every source's identity, then each entry's target
    // and collision outcome in input order, whatever the number of jobs. Planning makes no folder and writes
    // nothing; the run makes each folder when its entry comes.
    void Plan() {
        std::vector<std::string> sources;
        for (const FileItem* item : items_) sources.push_back(item->sourcePath);
        reservations_.SetSources(sources);
        reservations_.SetSettled(options_.settledNames);
        reservations_.SetDryRun(true);
        plans_.assign(count_, EntryPlan{});
        for (size_t i = 0; i < count_; ++i) {
            FileItem& item = *items_[i];
            if (WaitsForSoundFont(item)) continue;
            // Names from tags need the tags, whether or not the list read them when the files were added.
            if (!settings_.OutputNamePattern.empty() && !item.tagsRead) {
                ReadSourceTags(item.sourcePath, nullptr, item.tags);
                item.tagsRead = true;
            }
            const std::string listed = item.targetPath;
            plans_[i].named = MakeTargetPath(item, settings_, plans_[i].why, &reservations_, &plans_[i].replace);
            plans_[i].target = std::exchange(item.targetPath, listed);
        }
        reservations_.SetDryRun(options_.dryRun);
    }

    void RunEntries() {
        ForEachEntry([this](size_t i) { RunEntry(i); });
    }

    // Calls step for every entry, on the run's jobs, until Cancel.
    void ForEachEntry(const std::function<void(size_t)>& step) {
        std::atomic<size_t> next{0};
        const auto worker = [&] {
            while (!stop_ && !progress_.CancelRequested()) {
                const size_t i = next.fetch_add(1);
                if (i >= count_) break;
                step(i);
            }
        };
        const int jobs = std::clamp(options_.jobs, 1, 64);
        if (jobs == 1 || count_ <= 1) {
            worker();
            return;
        }
        std::vector<std::thread> threads;
        for (int t = 0; t < jobs && t < static_cast<int>(count_); ++t) threads.emplace_back(worker);
        for (auto& t : threads) t.join();
    }

    void RunEntry(size_t i) {
        Entry e;
        e.index = i;
        e.item = items_[i];
        if (WaitsForSoundFont(*e.item)) {
            e.status.note = MakeNote(NoteCode::NeedsSoundFont);
        } else {
            Started(e);
            if (Prepare(e)) {
                if (options_.dryRun) {
                    e.succeeded = true;
                    observer_.SetStatus(i, {EntryState::Converted, {}, e.item->targetPath});
                } else {
                    Convert(e);
                }
            }
        }
        if (!albumOf_.empty() && albumOf_[i] != kNoAlbum) AlbumMemberDone(e);
        Report(e);
    }

    // The run line goes first: the window draws the file line when the status arrives.
    void Started(const Entry& e) {
        const int runPosition = static_cast<int>(e.index + 1);
        progress_.SetRunStep({runPosition, count_, formatName_});
        observer_.ScrollTo(e.index);
        observer_.SetStatus(e.index, {EntryState::Converting, {}, {}});
        progress_.StepRun();
        progress_.SetFileStep({FileStage::Converting, FileNamePart(e.item->sourcePath)});
        progress_.SetFileBar(0);
    }

    // The planned target, its folder made now (named again only when that fails); false without a target.
    bool Prepare(Entry& e) {
        FileItem& item = *e.item;
        const EntryPlan& plan = plans_[e.index];
        bool named = plan.named;
        e.replace = plan.replace;
        e.status.note = plan.why;
        if (named) item.targetPath = plan.target;
        if (named && !options_.dryRun) {
            std::lock_guard lock(namingMutex_);
            named = PrepareTarget(item, settings_, e.status.note, reservations_, e.replace);
            if (named && reservations_.FirstVisit(FolderPart(item.targetPath)))
                SweepStaleWorkFiles(FolderPart(item.targetPath));
        }
        if (!named) return false;
        // The source as it is now, not as it was listed: gone, unreadable or no longer a regular file, the
        // entry says so (and a FIFO or device is never opened).
        struct stat st {};
        const int error = stat(item.sourcePath.c_str(), &st) != 0        ? errno
                          : S_ISREG(st.st_mode) && access(item.sourcePath.c_str(), R_OK) != 0 ? errno
                                                                          : 0;
        if (error == 0 && S_ISREG(st.st_mode)) return true;
        reservations_.Release(item.targetPath);
        if (error == 0) {
            e.status.note = MakeNote(NoteCode::NotRegularFile);
            return false;
        }
        e.note = MakeNote(NoteCode::SystemError, {}, error);
        e.status = {EntryState::Failed, e.note, {}};
        if (!widened_.exchange(true)) observer_.WidenStatusColumn();
        std::lock_guard lock(summaryMutex_);
        summary_.notes[e.index] = e.note;
        return false;
    }

    // Converts into a work file, checks it, and commits it onto the target.
    void Convert(Entry& e) {
        FileItem& item = *e.item;
        EntryProgressSink entryProgress(progress_, observer_, e.index);
        ConvertContext context{settings_, entryProgress, {}, static_cast<int>(e.index + 1)};
        if (item.cue) {
            context.span = &*item.cue;
            context.tags = &item.tags;
        }
        context.decoder.preferred = options_.preferredReader;
        context.decoder.prompt = &observer_;
        context.decoder.cancelled = [this] { return progress_.CancelRequested(); };
        const bool tagging = settings_.ReplayGainMode != kGainTagsOff;
        const bool normalising = settings_.NormalizeTarget != 0;
        if (normalising) context.normalise = EntryGain(e.index);
        TapMeter meter(false);  // sample peaks only: a true peak costs more than the decoding
        if (tagging) meter.Attach(context);
        WorkFile work(item.targetPath);
        bool ok = false;
        Note failure;  // the run's own reason; it wins over the loop's words
        if (!work.ok()) {
            failure = MakeNote(NoteCode::NoWorkFile, {}, work.error());
        } else if (FindOutputFormat(settings_.OutputFormat) != nullptr && !progress_.CancelRequested()) {
            ok = ConvertFile(item.formatCode, item.sourcePath, work.path(), context) != 0;
            const auto size = FileSize(work.path());
            if (ok && (!size || *size == 0)) {
                ok = false;
                failure = MakeNote(NoteCode::EmptyOutput);
            }
        }
        // The track's gain tags go into the work file (an album's come when its last entry is done); a
        // source's old ones never survive a gain tag pass or a normalisation.
        if (ok && (tagging || normalising)) {
            GainTagValues values;
            if (const LoudnessMeter* m = meter.Meter()) {
                const LoudnessResult track = m->Result();
                values.trackLufs = track.integrated;
                values.trackPeak = track.samplePeak;
            }
            if (WriteGainTags(work.path(), values) == GainTagResult::Failed)
                e.note = MakeNote(NoteCode::GainTagsNotWritten, item.targetPath);
        }
        if (ok && settings_.VerifyOutput != 0) ok = Verify(e, work, context, failure);
        if (ok) e.result.tagsDropped = context.report.tagsDropped;
        if (ok) ok = Commit(e, work, failure);
        if (ok && !albumOf_.empty() && albumOf_[e.index] != kNoAlbum) {
            std::lock_guard lock(albumMutex_);
            meters_[e.index] = meter.Take();
        }
        if (ok) {
            e.succeeded = true;
            e.result.truncated = context.truncated;
            if (context.truncated) e.note = MakeNote(NoteCode::Truncated);
            if (context.report.largePictures > 0 && e.note.empty()) e.note = MakeNote(NoteCode::LargePicture);
            if (context.report.refusedRate > 0 && e.note.empty())
                e.note = ValuesNote(NoteCode::RateBrought,
                                    {static_cast<uint64_t>(context.report.refusedRate),
                                     static_cast<uint64_t>(context.report.plannedRate)},
                                    formatName_);
            observer_.SetStatus(e.index, {EntryState::Converted, {}, item.targetPath});
            progress_.Pump();
            if (progress_.CancelRequested()) stop_ = true;
        } else if (!e.result.skipped && failure.empty() && context.report.unreadable && !options_.sourcesProbed &&
                   !progress_.CancelRequested()) {
            reservations_.Release(item.targetPath);
            e.result.notLoaded = true;
            e.note = RefusalNote(item.sourcePath, item.formatCode, context.decoder.failureNote);
            e.status = {EntryState::NotLoaded, e.note, {}};
        } else if (!e.result.skipped) {
            reservations_.Release(item.targetPath);
            e.note = !failure.empty()        ? failure
                     : !context.note.empty() ? context.note
                                             : ReaderNote(context.decoder.failureNote);
            e.status = {EntryState::Failed, e.note, {}};
            if (!e.note.empty() && !widened_.exchange(true)) observer_.WidenStatusColumn();
        }
        std::lock_guard lock(summaryMutex_);
        summary_.notes[e.index] = e.note;
    }

    // The output is checked before it takes the target's name; a failed check fails the entry.
    bool Verify(Entry& e, const WorkFile& work, const ConvertContext& context, Note& failure) {
        progress_.SetFileStep({FileStage::Verifying, FileNamePart(e.item->sourcePath)});
        // A normalised output no longer holds the source's samples: its length is checked, as with any gain.
        ConvertSettings checked = settings_;
        if (context.normalise) {
            checked.wav.amplify = 1;
            checked.wav.gain = 200;
        }
        const VerifyOutcome check =
            VerifyConversion(checked, e.item->formatCode, e.item->sourcePath, work.path(), options_.preferredReader,
                             [this] { return progress_.CancelRequested(); }, &context.report, context.span);
        e.result.verifyRan = true;
        e.result.verified = check.ok;
        e.result.framesSource = check.sourceFrames;
        e.result.framesOutput = check.outputFrames;
        if (!check.ok && !progress_.CancelRequested()) failure = check.note;
        return check.ok;
    }

    // The target may have appeared since it was named (another process): the policy applies again.
    bool Commit(Entry& e, WorkFile& work, Note& failure) {
        FileItem& item = *e.item;
        for (int attempt = 0;; ++attempt) {
            // Checked again at the last moment: a source of this run is never replaced.
            if (e.replace && reservations_.IsSource(item.targetPath)) {
                failure = MakeNote(NoteCode::TargetIsRunSource);
                return false;
            }
            if (!observer_.Committing(e.index, work.path(), item.targetPath)) {
                e.status = {EntryState::NotConverted, MakeNote(NoteCode::Skipped), {}};
                e.result.skipped = true;
                std::lock_guard lock(namingMutex_);
                reservations_.Release(item.targetPath);
                return false;
            }
            if (work.Commit(item.targetPath, e.replace)) return true;
            const int error = errno;
            std::lock_guard lock(namingMutex_);
            reservations_.Release(item.targetPath);
            if (error != EEXIST || attempt >= 16 ||
                !MakeTargetPath(item, settings_, e.status.note, &reservations_, &e.replace)) {
                e.result.skipped = e.status.note.code == NoteCode::Skipped;
                return false;
            }
        }
    }

    // The entry's final status and result.
    void Report(Entry& e) {
        {
            std::lock_guard lock(summaryMutex_);
            if (e.succeeded) {
                ++summary_.succeeded;
            } else {
                e.item->targetPath.clear();
                if (progress_.CancelRequested()) {
                    observer_.SetStatus(e.index, {EntryState::Cancelled, {}, {}});
                    stop_ = true;
                } else {
                    observer_.SetStatus(e.index, e.status);
                    ++summary_.failed;
                }
            }
            e.result.note = summary_.notes[e.index];
        }
        e.result.ok = e.succeeded;
        if (!e.succeeded && e.status.state == EntryState::NotConverted && e.status.note.code == NoteCode::Skipped)
            e.result.skipped = true;
        // A failed or skipped entry always says why: its status when nothing more precise was found.
        if (!e.succeeded && e.result.note.empty() && !progress_.CancelRequested())
            e.result.note = e.status.state == EntryState::Failed ? MakeNote(NoteCode::ConversionFailed) : e.status.note;
        observer_.EntryFinished(e.index, e.result);
    }

    // Album mode: every named entry joins the album of its output folder and ALBUM tag.
    void GroupAlbums() {
        albumOf_.assign(count_, kNoAlbum);
        meters_.resize(count_);
        std::map<std::string, size_t> keys;
        for (size_t i = 0; i < count_; ++i) {
            if (!plans_[i].named) continue;
            FileItem& item = *items_[i];
            if (!item.tagsRead) {
                ReadSourceTags(item.sourcePath, nullptr, item.tags);
                item.tagsRead = true;
            }
            const auto [at, added] = keys.try_emplace(AlbumKey(plans_[i].target, item), albums_.size());
            if (added) albums_.emplace_back();
            albumOf_[i] = at->second;
            albums_[at->second].members.push_back(i);
            ++albums_[at->second].remaining;
        }
    }

    // A measuring pass of the entry through the conversion's own path (reader, format plan, gain), true peak
    // included; null when it cannot be measured.
    std::unique_ptr<LoudnessMeter> MeasureEntry(size_t i, ProgressSink& sink) {
        FileItem& item = *items_[i];
        ConvertContext context{settings_, sink, {}, static_cast<int>(i + 1)};
        if (item.cue) {
            context.span = &*item.cue;
            context.tags = &item.tags;
        }
        context.decoder.preferred = options_.preferredReader;
        context.decoder.cancelled = [this] { return progress_.CancelRequested(); };
        context.measureOnly = true;
        TapMeter meter(true);
        meter.Attach(context);
        if (ConvertFile(item.formatCode, item.sourcePath, {}, context) == 0) return nullptr;
        return meter.Take();
    }

    // The tags of a source, for --trust-tags.
    std::optional<TaggedLoudness> TrustedLoudness(size_t i, bool album) {
        if (!settings_.trustGainTags) return std::nullopt;
        FileItem& item = *items_[i];
        if (item.tagsRead) return LoudnessOfTags(item.tags, album);
        TagRecord tags;
        ReadSourceTags(item.sourcePath, nullptr, tags);
        return LoudnessOfTags(tags, album);
    }

    // The normalisation of one entry: its album's, or its own measured now.
    std::optional<NormaliseGain> EntryGain(size_t i) {
        if (!albumOf_.empty()) return albumOf_[i] != kNoAlbum ? albums_[albumOf_[i]].gain : std::nullopt;
        if (const auto tagged = TrustedLoudness(i, false)) return NormaliseGainFor(tagged->lufs, tagged->peak, false, settings_);
        EntryProgressSink sink(progress_, observer_, i);
        const std::unique_ptr<LoudnessMeter> meter = MeasureEntry(i, sink);
        if (!meter) return std::nullopt;
        const LoudnessResult r = meter->Result();
        return r.integrated ? NormaliseGainFor(*r.integrated, r.truePeak, true, settings_) : std::nullopt;
    }

    // Album normalisation: every entry is measured first (or its album tags trusted), then each album gets one
    // gain.
    void MeasureAlbums() {
        std::vector<std::unique_ptr<LoudnessMeter>> measured(count_);
        std::vector<std::optional<TaggedLoudness>> tagged(count_);
        QuietProgress quiet(progress_);
        ForEachEntry([&](size_t i) {
            if (albumOf_[i] == kNoAlbum) return;
            tagged[i] = TrustedLoudness(i, true);
            if (!tagged[i]) measured[i] = MeasureEntry(i, quiet);
        });
        for (Album& album : albums_) {
            std::vector<const LoudnessMeter*> meters;
            std::optional<TaggedLoudness> fromTags;
            bool allTagged = true;
            for (size_t i : album.members) {
                if (measured[i]) meters.push_back(measured[i].get());
                if (!tagged[i]) allTagged = false;
                else if (!fromTags) fromTags = tagged[i];
                else if (tagged[i]->peak) fromTags->peak = std::max(fromTags->peak.value_or(0.0), *tagged[i]->peak);
            }
            if (allTagged && fromTags) {
                album.gain = NormaliseGainFor(fromTags->lufs, fromTags->peak, false, settings_);
                continue;
            }
            const LoudnessResult r = LoudnessMeter::Album(meters);
            if (r.integrated) album.gain = NormaliseGainFor(*r.integrated, r.truePeak, true, settings_);
        }
    }

    // An album's last entry is done: its values go into every target of it that converted, each through a
    // work file beside it that replaces the target only once complete.
    void AlbumMemberDone(Entry& e) {
        std::vector<size_t> members;
        {
            std::lock_guard lock(albumMutex_);
            Album& album = albums_[albumOf_[e.index]];
            if (--album.remaining > 0 || progress_.CancelRequested()) return;
            members = album.members;
        }
        std::vector<const LoudnessMeter*> meters;
        for (size_t i : members) {
            if (meters_[i]) meters.push_back(meters_[i].get());
        }
        if (meters.empty()) return;
        const LoudnessResult albumResult = LoudnessMeter::Album(meters);
        std::string failed;
        for (size_t i : members) {
            if (!meters_[i] || items_[i]->targetPath.empty()) continue;
            const LoudnessResult track = meters_[i]->Result();
            GainTagValues values{track.integrated, track.samplePeak, albumResult.integrated, albumResult.samplePeak};
            if (!RewriteTags(i, values) && failed.empty()) failed = items_[i]->targetPath;
            meters_[i].reset();
        }
        if (failed.empty()) return;
        if (e.note.empty()) e.note = MakeNote(NoteCode::GainTagsNotWritten, failed);
        std::lock_guard lock(summaryMutex_);
        if (summary_.notes[e.index].empty()) summary_.notes[e.index] = e.note;
    }

    // A committed target's gain tags changed through a copy; false (the target as it was) on any failure.
    bool RewriteTags(size_t index, const GainTagValues& values) {
        const std::string& target = items_[index]->targetPath;
        WorkFile work(target);
        std::error_code error;
        if (!work.ok() ||
            !std::filesystem::copy_file(target, work.path(), std::filesystem::copy_options::overwrite_existing, error))
            return false;
        const GainTagResult written = WriteGainTags(work.path(), values);
        if (written == GainTagResult::NoTags) return true;
        return written == GainTagResult::Written && observer_.Committing(index, work.path(), target) &&
               work.Commit(target, true);
    }

    void ShowFirstOutput() {
        for (FileItem* item : items_) {
            if (!item->targetPath.empty() && FileExists(item->targetPath)) {
                observer_.ShowOutput(item->targetPath);
                return;
            }
        }
    }

    std::vector<FileItem*>& items_;
    const ConvertSettings& settings_;
    ProgressSink& progress_;
    RunObserver& observer_;
    const RunOptions& options_;
    const size_t count_;
    const std::string formatName_;
    RunSummary summary_;
    bool soundFontReady_ = false;
    TargetReservations reservations_;
    std::vector<EntryPlan> plans_;
    std::mutex namingMutex_;  // target naming is check-then-reserve: one entry at a time
    std::mutex summaryMutex_;
    std::atomic<bool> widened_{false};
    // Album mode: each entry's album (kNoAlbum: none), the albums, and the output meters of converted entries
    // until their album is done.
    std::vector<size_t> albumOf_;
    std::vector<Album> albums_;
    std::vector<std::unique_ptr<LoudnessMeter>> meters_;
    std::mutex albumMutex_;
    std::atomic<bool> stop_{false};
};

}  // namespace

RunSummary RunConversion(std::vector<FileItem*>& items, const ConvertSettings& settings, ProgressSink& progress,
                         RunObserver& observer, const RunOptions& options) {
    return Run(items, settings, progress, observer, options).Execute();
}

}  // namespace pelloran
