#include "cli/Mirror.h"

#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/ConversionRun.h"
#include "app/Mirror.h"
#include "app/OutputNaming.h"
#include "cli/CliProgress.h"
#include "cli/TextOut.h"
#include "frontend/Wording.h"
#include "media/TagRecord.h"
#include "platform/Paths.h"
#include "platform/SoundFont.h"

namespace pelloran::cli {

FailureReport::~FailureReport() {
    if (file_ != nullptr) std::fclose(file_);
}

bool FailureReport::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void FailureReport::Add(const std::string& jsonLine) {
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) return;
    std::fputs(jsonLine.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

int ExitStatus(const Counts& counts, std::optional<int> maxFailures) {
    const size_t failures = counts.failed + counts.notLoaded;
    if (counts.cancelled > 0) return 1;
    return failures > static_cast<size_t>(maxFailures.value_or(0)) ? 1 : 0;
}

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

// What the run changed in the manifest, written under its lock now and then and at the end, so a killed run
// loses at most the last moments (their targets are converted again).
class ManifestWriter {
public:
    explicit ManifestWriter(std::string folder) : folder_(std::move(folder)) {}
    void Put(MirrorRecord record) {
        std::lock_guard lock(mutex_);
        put_.push_back(std::move(record));
        MaybeFlush();
    }
    void Remove(std::string source) {
        std::lock_guard lock(mutex_);
        removed_.push_back(std::move(source));
        MaybeFlush();
    }
    bool Flush() {
        std::lock_guard lock(mutex_);
        return FlushLocked();
    }

private:
    void MaybeFlush() {
        if (std::chrono::steady_clock::now() - last_ > std::chrono::seconds(1)) FlushLocked();
    }
    bool FlushLocked() {
        last_ = std::chrono::steady_clock::now();
        if (put_.empty() && removed_.empty()) return true;
        if (!CommitManifest(folder_, put_, removed_)) return false;
        put_.clear();
        removed_.clear();
        return true;
    }
    std::string folder_;
    std::mutex mutex_;
    std::vector<MirrorRecord> put_;
    std::vector<std::string> removed_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

std::string Relative(const std::string& path, const std::string& folder) {
    return path.rfind(folder, 0) == 0 ? path.substr(folder.size()) : path;
}

std::string StepLine(const MirrorStep& step, const char* status, const std::string& dest, bool json) {
    const std::string target = Relative(step.target, dest);
    if (json) {
        Json j;
        if (!step.source.empty()) j["source"] = step.source;
        j["status"] = status;
        if (!target.empty()) j["target"] = target;
        return Dump(j);
    }
    if (step.action == MirrorAction::Prune) return EscapeText(step.target.empty() ? step.relSource : step.target) + "\t" + status;
    return EscapeText(step.source) + "\t" + status + (target.empty() ? "" : " " + EscapeText(target));
}

// Conversions of the mirror: lines in plan order, each converted target recorded in the manifest, the old
// target of a source that moved removed once the new one is in place.
class MirrorObserver : public RunObserver {
public:
    MirrorObserver(OrderedPrinter& printer, CliProgress& progress, std::vector<const MirrorStep*> steps,
                   std::vector<size_t> lineOf, std::vector<FileItem*>& items, ManifestWriter& manifest,
                   const MirrorPlan& plan, const std::string& dest, bool json, FailureReport& report)
        : printer_(printer), progress_(progress), steps_(std::move(steps)), lineOf_(std::move(lineOf)),
          items_(items), manifest_(manifest), plan_(plan), dest_(dest), json_(json), report_(report),
          statuses_(items.size()) {}

    void SetStatus(size_t index, const EntryStatus& status) override {
        std::lock_guard lock(mutex_);
        statuses_[index] = status;
        if (status.state == EntryState::Converting)
            progress_.EntryStarted(index, FileNamePart(items_[index]->sourcePath));
    }
    void EntryProgress(size_t index, double fraction) override { progress_.EntryProgress(index, fraction); }
    void EntryFinished(size_t index, const EntryResult& result) override {
        EntryStatus status;
        StatusCode code = StatusCode::Failed;
        {
            std::lock_guard lock(mutex_);
            status = statuses_[index];
            if (result.ok) code = StatusCode::Converted;
            else if (result.skipped) code = StatusCode::Skipped;
            else if (result.notLoaded) code = StatusCode::NotLoaded;
            else if (status.state == EntryState::Cancelled) code = StatusCode::Cancelled;
            counts_.Add(code);
        }
        progress_.EntryFinished(index);
        const FileItem& item = *items_[index];
        const MirrorStep& step = *steps_[index];
        if (result.ok) {
            manifest_.Put({Relative(item.targetPath, dest_), step.relSource, step.size, step.mtimeNs, plan_.fingerprint});
            if (!step.oldTarget.empty() && plan_.planned.count(step.oldTarget) == 0)
                RemoveMirrored(dest_, Relative(step.oldTarget, dest_));
        }
        if (!json_ && !result.note.empty() && code != StatusCode::Cancelled) {
            progress_.Lock();
            progress_.Clear();
            std::cerr << EscapeText(item.sourcePath) << ": " << EscapeText(NoteText(result.note)) << "\n";
            progress_.Unlock();
        }
        const std::string target = code == StatusCode::NotLoaded ? std::string{} : item.targetPath;
        printer_.Set(lineOf_[index], ConvertLine(item.sourcePath, code, status, target, result, json_));
        if (code == StatusCode::Failed || code == StatusCode::NotLoaded)
            report_.Add(ConvertLine(item.sourcePath, code, status, target, result, true));
    }
    bool Ask(Question question, const QuestionData& data) override {
        std::lock_guard lock(mutex_);
        std::cerr << EscapeText(QuestionText(question, data)) << "\n(answered No)\n";
        return false;
    }
    Counts counts() {
        std::lock_guard lock(mutex_);
        return counts_;
    }

private:
    OrderedPrinter& printer_;
    CliProgress& progress_;
    std::vector<const MirrorStep*> steps_;
    std::vector<size_t> lineOf_;
    std::vector<FileItem*>& items_;
    ManifestWriter& manifest_;
    const MirrorPlan& plan_;
    const std::string& dest_;
    bool json_;
    FailureReport& report_;
    std::vector<EntryStatus> statuses_;
    Counts counts_;
    std::mutex mutex_;
};

std::vector<std::string> SplitPatterns(const std::string& text) {
    std::vector<std::string> patterns;
    for (size_t start = 0; start <= text.size();) {
        const size_t comma = std::min(text.find(',', start), text.size());
        std::string pattern = text.substr(start, comma - start);
        while (!pattern.empty() && pattern.front() == ' ') pattern.erase(0, 1);
        while (!pattern.empty() && pattern.back() == ' ') pattern.pop_back();
        if (!pattern.empty()) patterns.push_back(pattern);
        start = comma + 1;
    }
    return patterns;
}

}  // namespace

int RunMirror(const CliOptions& options, ConvertSettings& settings) {
    const auto started = std::chrono::steady_clock::now();
    std::string src = ResolveFolderPath(options.mirror);
    std::string dest = settings.DestSpecifiedFolder;
    if (src.back() != '/') src += '/';
    if (dest.back() != '/') dest += '/';
    if (src.rfind(dest, 0) == 0) {
        std::cerr << "pelloran-cli: --mirror: the source folder may not be the mirror folder or lie inside it\n";
        return 2;
    }
    if (!options.dryRun && !EnsureFolder(dest, true)) {
        std::cerr << "pelloran-cli: " << EscapeText(NoteText(MakeNote(NoteCode::FolderNotCreated, dest))) << "\n";
        return 1;
    }
    // A mirror replaces its own stale targets; its names are its own tree (or the pattern).
    settings.DestOutputFolderOpt = kOutputIntoFolder;
    settings.CreateDirs = 0;
    settings.OutputFiles2MyDocuments = 0;
    settings.TargetExistsOpt = kTargetOverwrite;

    MirrorOptions mirror;
    mirror.copyLossy = options.copyLossy;
    mirror.copyOther = SplitPatterns(options.copyOther);
    mirror.prune = options.prune;
    if (!options.shard.empty()) ParseShard(options.shard, mirror.shardK, mirror.shardN);
    FailureReport report;
    if (!options.report.empty() && !report.Open(options.report)) {
        std::cerr << "pelloran-cli: --report " << EscapeText(options.report) << ": cannot be written\n";
        return 2;
    }

    CliProgress::InstallInterruptHandler();
    CliProgress progress(!options.quiet);
    const auto cancelled = [&progress] { return progress.CancelRequested(); };
    const MirrorPlan plan = PlanMirror(src, dest, settings, mirror, cancelled);
    if (plan.damagedLines > 0)
        std::cerr << "pelloran-cli: warning: " << EscapeText(dest + MirrorManifest::kFileName) << ": "
                  << plan.damagedLines << " lines not understood were left out\n";
    if (progress.CancelRequested()) return CliProgress::EndInterrupted(130);

    OrderedPrinter printer(plan.steps.size(), progress);
    Counts counts;
    size_t copied = 0, removed = 0;
    if (options.dryRun) {
        for (size_t i = 0; i < plan.steps.size(); ++i) {
            const MirrorStep& step = plan.steps[i];
            const char* status = step.action == MirrorAction::Convert ? "planned"
                                 : step.action == MirrorAction::Copy  ? "copy planned"
                                                                      : "removal planned";
            printer.Set(i, StepLine(step, status, dest, options.json));
            counts.planned += step.action == MirrorAction::Convert;
        }
    } else {
        std::set<std::string> folders;
        for (const std::string& target : plan.planned) folders.insert(FolderPart(target));
        SweepMirrorLeftovers(folders);
        ManifestWriter manifest(dest);
        // Copies and removals are quick: done here in order; conversions go to the run.
        std::vector<FileItem> items;
        std::vector<const MirrorStep*> converting;
        std::vector<size_t> lineOf;
        SettledNames settled;
        for (size_t i = 0; i < plan.steps.size() && !progress.CancelRequested(); ++i) {
            const MirrorStep& step = plan.steps[i];
            if (step.action == MirrorAction::Convert) {
                FileItem item;
                item.sourcePath = step.source;
                item.subFolder = step.subFolder;
                items.push_back(std::move(item));
                if (!step.suffix.empty()) settled.Set(step.source, step.suffix);
                converting.push_back(&step);
                lineOf.push_back(i);
                continue;
            }
            if (step.action == MirrorAction::Copy) {
                const bool ok = CopyAsIs(step.source, step.target);
                if (ok) {
                    ++copied;
                    manifest.Put({Relative(step.target, dest), step.relSource, step.size, step.mtimeNs, kCopiedAsIs});
                    if (!step.oldTarget.empty() && plan.planned.count(step.oldTarget) == 0)
                        RemoveMirrored(dest, Relative(step.oldTarget, dest));
                    printer.Set(i, StepLine(step, "copied", dest, options.json));
                } else {
                    ++counts.failed;
                    const Note note = MakeNote(NoteCode::SystemError, {}, errno);
                    std::cerr << EscapeText(step.source) << ": " << EscapeText(NoteText(note)) << "\n";
                    printer.Set(i, StepLine(step, "failed", dest, options.json));
                    report.Add(StepLine(step, "failed", dest, true));
                }
                continue;
            }
            if (step.target.empty() || RemoveMirrored(dest, Relative(step.target, dest))) {
                manifest.Remove(step.relSource);
                removed += !step.target.empty();
                printer.Set(i, StepLine(step, "removed", dest, options.json));
            } else {
                // Not a file the mirror made as it made it (a folder, a link): left alone and forgotten.
                manifest.Remove(step.relSource);
                printer.Set(i, StepLine(step, "kept", dest, options.json));
            }
        }
        std::vector<FileItem*> pointers;
        for (FileItem& item : items) pointers.push_back(&item);
        MirrorObserver observer(printer, progress, converting, lineOf, pointers, manifest, plan, dest, options.json,
                                report);
        if (!pointers.empty() && !progress.CancelRequested()) {
            RunOptions run;
            run.jobs = options.jobs > 0 ? options.jobs : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
            run.ensureSoundFont = LoadDefaultSoundFont;
            run.sourcesProbed = false;
            run.settledNames = &settled;
            progress.SetRunRange(static_cast<int>(pointers.size()));
            RunConversion(pointers, settings, progress, observer, run);
        }
        const Counts converted = observer.counts();
        counts.converted += converted.converted;
        counts.skipped += converted.skipped;
        counts.failed += converted.failed;
        counts.notLoaded += converted.notLoaded;
        counts.cancelled += converted.cancelled;
        if (!manifest.Flush()) {
            std::cerr << "pelloran-cli: " << EscapeText(dest + MirrorManifest::kFileName) << ": "
                      << EscapeText(NoteText(MakeNote(NoteCode::SystemError, {}, errno))) << "\n";
            ++counts.failed;
        }
    }
    printer.FlushAll([&](size_t line) {
        ++counts.cancelled;
        return StepLine(plan.steps[line], "cancelled", dest, options.json);
    });
    progress.Clear();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (options.json) {
        std::cout << Dump(Json{{"mirror",
                                {{"up_to_date", plan.upToDate},
                                 {"copied", copied},
                                 {"removed", removed},
                                 {"gone_kept", plan.goneKept}}}})
                  << "\n"
                  << SummaryLine(counts, elapsed, options.dryRun) << std::endl;
    } else if (!options.quiet) {
        std::cerr << "Mirror: " << counts.converted << " converted, " << copied << " copied, " << removed
                  << " removed, " << plan.upToDate << " up to date, " << counts.failed + counts.notLoaded
                  << " failed";
        if (plan.goneKept > 0) std::cerr << "; " << plan.goneKept << " sources gone (--prune removes their targets)";
        std::cerr << "\n";
    }
    if (progress.CancelRequested()) return CliProgress::EndInterrupted(130);
    return ExitStatus(counts, options.maxFailures);
}

}  // namespace pelloran::cli
