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
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>

#include "app/ConvertLoop.h"
#include "app/Verify.h"
#include "app/OutputNaming.h"
#include "app/FileList.h"
#include "platform/Paths.h"
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

// True when something other than a regular file is at path (a file that is gone fails in the loop).
bool IsSpecialFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

}  // namespace

RunSummary RunConversion(std::vector<FileItem*>& items, const ConvertSettings& settings, ProgressSink& progress,
                         RunObserver& observer, const RunOptions& options) {
    RunSummary summary;
    const size_t count = items.size();
    summary.notes.assign(count, Note{});

    // WMA output needs the runtime; without it nothing is converted.
    if (settings.OutputFormat == kOutputWma && !WmaRuntimeReady() &&
        !CheckWmaRuntime(&observer, [&](const std::string& address) { observer.OpenAddress(address); })) {
        summary.aborted = true;
        return summary;
    }

    // SoundFont check, once, at the first MIDI entry.
    bool soundFontReady = false;
    for (FileItem* item : items) {
        if (item->formatCode != kInputMidi) continue;
        soundFontReady = options.ensureSoundFont && options.ensureSoundFont();
        if (!soundFontReady) {
            const std::string folder = ProgramFolder();
            if (observer.Ask(Question::SoundFontMissing, {folder})) {
                observer.OpenAddress(folder);
                observer.OpenAddress(kSoundFontDownloadAddress);
                summary.aborted = true;
                return summary;
            }
        }
        break;
    }

    progress.SetRunRange(static_cast<int>(count));
    progress.Pump();
    const std::string formatName = OutputFormatName(settings.OutputFormat);
    const bool known = FindOutputFormat(settings.OutputFormat) != nullptr;

    // The plan, for the whole list before the first write: every source's identity, then each entry's target
    // and collision outcome in input order, whatever the number of jobs. Planning makes no folder and writes
    // nothing; the run makes each folder when its entry comes.
    struct EntryPlan {
        bool named = false;
        bool replace = false;
        std::string target;
        Note why;  // why it has no target
    };
    TargetReservations reservations;
    std::vector<EntryPlan> plans(count);
    {
        std::vector<std::string> sources;
        for (const FileItem* item : items) sources.push_back(item->sourcePath);
        reservations.SetSources(sources);
        reservations.SetDryRun(true);
        for (size_t i = 0; i < count; ++i) {
            FileItem& item = *items[i];
            if (item.formatCode == kInputMidi && !soundFontReady) continue;
            const std::string listed = item.targetPath;
            plans[i].named = MakeTargetPath(item, settings, plans[i].why, &reservations, &plans[i].replace);
            plans[i].target = std::exchange(item.targetPath, listed);
        }
        reservations.SetDryRun(options.dryRun);
    }
    std::mutex namingMutex;   // target naming is check-then-reserve: one entry at a time
    std::mutex summaryMutex;
    std::atomic<bool> widened{false};
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};

    const auto convertEntry = [&](size_t i) {
        FileItem& item = *items[i];
        const int runPosition = static_cast<int>(i + 1);
        EntryStatus status;  // what the entry shows unless it converts or is cancelled
        bool succeeded = false;
        EntryResult entry;

        if (item.formatCode == kInputMidi && !soundFontReady) {
            status.note = MakeNote(NoteCode::NeedsSoundFont);
        } else {
            // The run line goes first: the window draws the file line when the status arrives.
            progress.SetRunStep({runPosition, count, formatName});
            observer.ScrollTo(i);
            observer.SetStatus(i, {EntryState::Converting, {}, {}});
            progress.StepRun();
            progress.SetFileStep({FileStage::Converting, FileNamePart(item.sourcePath)});
            progress.SetFileBar(0);

            bool named = plans[i].named;
            bool replace = plans[i].replace;
            status.note = plans[i].why;
            if (named) item.targetPath = plans[i].target;
            if (named && !options.dryRun) {
                std::lock_guard lock(namingMutex);
                named = PrepareTarget(item, settings, status.note, reservations, replace);
                if (named && reservations.FirstVisit(FolderPart(item.targetPath)))
                    SweepStaleWorkFiles(FolderPart(item.targetPath));
            }
            Note note;
            if (named && IsSpecialFile(item.sourcePath)) {
                // Replaced by a FIFO or device since it was listed: never opened.
                reservations.Release(item.targetPath);
                named = false;
                status.note = MakeNote(NoteCode::NotRegularFile);
            }
            if (named && options.dryRun) {
                succeeded = true;
                observer.SetStatus(i, {EntryState::Converted, {}, item.targetPath});
            } else if (named) {
                EntryProgressSink entryProgress(progress, observer, i);
                ConvertContext context{settings, entryProgress, {}, runPosition};
                context.decoder.preferred = options.preferredReader;
                context.decoder.prompt = &observer;
                context.decoder.cancelled = [&progress] { return progress.CancelRequested(); };
                WorkFile work(item.targetPath);
                bool ok = false;
                Note failure;  // the run's own reason; it wins over the loop's words
                if (!work.ok()) {
                    failure = MakeNote(NoteCode::NoWorkFile, {}, work.error());
                } else if (known) {
                    ok = ConvertFile(item.formatCode, item.sourcePath, work.path(), context) != 0;
                    const auto size = FileSize(work.path());
                    if (ok && (!size || *size == 0)) {
                        ok = false;
                        failure = MakeNote(NoteCode::EmptyOutput);
                    }
                }
                // The output is checked before it takes the target's name; a failed check fails the entry.
                if (ok && settings.VerifyOutput != 0) {
                    progress.SetFileStep({FileStage::Verifying, FileNamePart(item.sourcePath)});
                    const VerifyOutcome check =
                        VerifyConversion(settings, item.formatCode, item.sourcePath, work.path(), options.preferredReader,
                                         [&progress] { return progress.CancelRequested(); }, &context.report);
                    entry.verifyRan = true;
                    entry.verified = check.ok;
                    entry.framesSource = check.sourceFrames;
                    entry.framesOutput = check.outputFrames;
                    if (!check.ok) {
                        ok = false;
                        if (!progress.CancelRequested()) failure = check.note;
                    }
                }
                const int largePictures = ok ? context.report.largePictures : 0;
                if (ok) entry.tagsDropped = context.report.tagsDropped;
                // The target may have appeared since it was named (another process): the policy applies again.
                for (int attempt = 0; ok; ++attempt) {
                    // Checked again at the last moment: a source of this run is never replaced.
                    if (replace && reservations.IsSource(item.targetPath)) {
                        ok = false;
                        failure = MakeNote(NoteCode::TargetIsRunSource);
                        break;
                    }
                    if (work.Commit(item.targetPath, replace)) break;
                    const int error = errno;
                    std::lock_guard lock(namingMutex);
                    reservations.Release(item.targetPath);
                    if (error != EEXIST || attempt >= 16 ||
                        !MakeTargetPath(item, settings, status.note, &reservations, &replace)) {
                        ok = false;
                        entry.skipped = status.note.code == NoteCode::Skipped;
                    }
                }
                if (ok) {
                    succeeded = true;
                    entry.truncated = context.truncated;
                    if (context.truncated) note = MakeNote(NoteCode::Truncated);
                    if (largePictures > 0 && note.empty()) note = MakeNote(NoteCode::LargePicture);
                    observer.SetStatus(i, {EntryState::Converted, {}, item.targetPath});
                    progress.Pump();
                    if (progress.CancelRequested()) stop = true;
                } else if (!entry.skipped && failure.empty() && context.report.unreadable && !options.sourcesProbed &&
                           !progress.CancelRequested()) {
                    reservations.Release(item.targetPath);
                    entry.notLoaded = true;
                    note = RefusalNote(item.sourcePath, item.formatCode, context.decoder.failureNote);
                    status = {EntryState::NotLoaded, note, {}};
                } else if (!entry.skipped) {
                    reservations.Release(item.targetPath);
                    note = !failure.empty()        ? failure
                           : !context.note.empty() ? context.note
                                                   : ReaderNote(context.decoder.failureNote);
                    status = {EntryState::Failed, note, {}};
                    if (!note.empty() && !widened.exchange(true)) observer.WidenStatusColumn();
                }
                std::lock_guard lock(summaryMutex);
                summary.notes[i] = note;
            }
        }

        {
            std::lock_guard lock(summaryMutex);
            if (succeeded) {
                ++summary.succeeded;
            } else {
                item.targetPath.clear();
                if (progress.CancelRequested()) {
                    observer.SetStatus(i, {EntryState::Cancelled, {}, {}});
                    stop = true;
                } else {
                    observer.SetStatus(i, status);
                    ++summary.failed;
                }
            }
        }
        entry.ok = succeeded;
        if (!succeeded && status.state == EntryState::NotConverted && status.note.code == NoteCode::Skipped)
            entry.skipped = true;
        {
            std::lock_guard lock(summaryMutex);
            entry.note = summary.notes[i];
        }
        // A failed or skipped entry always says why: its status when nothing more precise was found.
        if (!succeeded && entry.note.empty() && !progress.CancelRequested())
            entry.note = status.state == EntryState::Failed ? MakeNote(NoteCode::ConversionFailed) : status.note;
        observer.EntryFinished(i, entry);
    };

    const auto worker = [&] {
        while (!stop && !progress.CancelRequested()) {
            const size_t i = next.fetch_add(1);
            if (i >= count) break;
            convertEntry(i);
        }
    };

    const int jobs = std::clamp(options.jobs, 1, 64);
    if (jobs == 1 || count <= 1) {
        worker();
    } else {
        std::vector<std::thread> threads;
        for (int t = 0; t < jobs && t < static_cast<int>(count); ++t) threads.emplace_back(worker);
        for (auto& t : threads) t.join();
    }

    summary.cancelled = progress.CancelRequested() || stop;
    if (!summary.cancelled && !options.dryRun && settings.BrowseOutputFolder != 0) {
        for (FileItem* item : items) {
            if (!item->targetPath.empty() && FileExists(item->targetPath)) {
                observer.ShowOutput(item->targetPath);
                break;
            }
        }
    }
    return summary;
}

}  // namespace pelloran
