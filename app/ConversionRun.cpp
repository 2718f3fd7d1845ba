#include "app/ConversionRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/ConvertLoop.h"
#include "app/OutputNaming.h"
#include "app/Paths.h"
#include "app/Progress.h"
#include "decode/AudioDecoder.h"
#include "encode/WmaWriter.h"
#include "platform/shell.h"
#include "platform/wm.h"

namespace pelloran {

const char* const kSoundFontDownloadAddress = "https://pelloran.org/soundfont";

void RunObserver::ShowOutput(const std::string& path) { ShowInExplorer(path); }
void RunObserver::OpenAddress(const std::string& address) { OpenWebAddress(address); }

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

// A fresh hidden file beside the target that the loop writes; it becomes the target only when complete.
std::string MakeWorkFile(const std::string& target) {
    std::string ext = ExtensionPart(target);
    std::string path = FolderPart(target) + ".pelloran-XXXXXX" + ext;
    const int fd = mkstemps(path.data(), static_cast<int>(ext.size()));
    if (fd < 0) return {};
    close(fd);
    return path;
}

// Moves the finished work file onto the target; an existing target is replaced only when overwriting.
bool CommitWorkFile(const std::string& work, const std::string& target, bool overwrite) {
    chmod(work.c_str(), NewFileMode());
    if (overwrite) return std::rename(work.c_str(), target.c_str()) == 0;
    if (renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // File systems without no-replace renames: link fails when the target appeared meanwhile.
        if (link(work.c_str(), target.c_str()) != 0) return false;
        unlink(work.c_str());
        return true;
    }
    return false;
}

std::string RunText(int position, size_t count, const std::string& formatName) {
    return "Converting " + std::to_string(position) + " of " + std::to_string(count) + " file(s) to " + formatName +
           "...";
}

}  // namespace

RunSummary RunConversion(std::vector<FileItem*>& items, const ConvertSettings& settings, ProgressSink& progress,
                         RunObserver& observer, const RunOptions& options) {
    RunSummary summary;
    const size_t count = items.size();
    summary.notes.assign(count, std::string{});

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
            const std::string question =
                "Dear user, to decode MIDI file, file \"ct4mgm.sf2\" is required.\nUnfortunately, the file isn't "
                "available on your computer.\n\nDo you want to download the file from our website for free "
                "now?\n\nOnce download completes, please copy the file to folder:\n\"" +
                folder + "\"\nAnd then convert your MIDI file again. Thank you.";
            if (observer.AskYesNo(question)) {
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
    const ConvertLoopFn loop = LoopForFormat(settings.OutputFormat);

    TargetReservations reservations;
    std::mutex namingMutex;   // target naming is check-then-reserve: one entry at a time
    std::mutex summaryMutex;
    std::atomic<bool> widened{false};
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};

    const auto convertEntry = [&](size_t i) {
        FileItem& item = *items[i];
        const int runPosition = static_cast<int>(i + 1);
        std::string status;
        bool succeeded = false;

        if (item.formatCode == kInputMidi && !soundFontReady) {
            status = kStatusNeedsSoundFont;
        } else {
            observer.ScrollTo(i);
            observer.SetStatus(i, kStatusConverting);
            progress.SetRunText(RunText(runPosition, count, formatName));
            progress.StepRun();
            progress.SetFileText("Converting " + FileNamePart(item.sourcePath) + "...");
            progress.SetFileBar(0);

            bool named = false;
            {
                std::lock_guard lock(namingMutex);
                named = MakeTargetPath(item, settings, status, &reservations);
            }
            if (named) {
                const std::string target = item.targetPath;
                const bool overwrite = settings.TargetExistsOpt == 22;
                ConvertContext context{settings, progress, {}, runPosition};
                context.decoder.preferred = options.preferredReader;
                context.decoder.prompt = &observer;
                const std::string work = MakeWorkFile(target);
                int ok = 0;
                if (!work.empty() && loop != nullptr) {
                    ok = loop(item.formatCode, item.sourcePath, work, context);
                    const auto size = FileSize(work);
                    ok = ok && size && *size > 0 && CommitWorkFile(work, target, overwrite);
                }
                if (!work.empty() && !ok) std::remove(work.c_str());
                reservations.Release(target);

                if (ok) {
                    succeeded = true;
                    observer.SetStatus(i, FileNamePart(target));
                    progress.Pump();
                    if (progress.CancelRequested()) stop = true;
                } else {
                    status = kStatusFailure;
                    const std::string& note = context.decoder.failureNote;
                    if (!note.empty()) {
                        status += " (" + note + ")";
                        if (!widened.exchange(true)) observer.WidenStatusColumn();
                    }
                    std::lock_guard lock(summaryMutex);
                    summary.notes[i] = note;
                }
            }
        }

        {
            std::lock_guard lock(summaryMutex);
            if (succeeded) {
                ++summary.succeeded;
            } else {
                item.targetPath.clear();
                if (progress.CancelRequested()) {
                    observer.SetStatus(i, kStatusCancelled);
                    stop = true;
                } else {
                    observer.SetStatus(i, status);
                    ++summary.failed;
                }
            }
        }
        observer.EntryFinished(i, succeeded, summary.notes[i]);
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
    if (!summary.cancelled && settings.BrowseOutputFolder != 0) {
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
