#include "cli/Mirror.h"

#include <sys/stat.h>

#include <chrono>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
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

// Conversions of the mirror: each converted target recorded in the manifest, the old target of a source that
// moved removed once the new one is in place; a file the mirror did not make is never replaced.
class MirrorObserver : public CliObserver {
public:
    MirrorObserver(OrderedPrinter& printer, CliProgress& progress, std::vector<const MirrorStep*> steps,
                   std::vector<size_t> lineOf, std::vector<FileItem*>& items, MirrorChanges& changes, bool json,
                   FailureReport& report)
        : CliObserver(printer, progress, std::move(lineOf), items, json, false, &report), steps_(std::move(steps)),
          changes_(changes) {}

    bool Committing(size_t index, const std::string& workPath, const std::string& target) override {
        return changes_.MayCommit(steps_[index]->relSource, workPath, target);
    }

protected:
    void Finishing(size_t index, const FileItem& item, const EntryResult& result) override {
        if (result.ok) changes_.Converted(*steps_[index], item.targetPath);
    }

private:
    std::vector<const MirrorStep*> steps_;
    MirrorChanges& changes_;
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
    MirrorOptions mirror;
    // A file the mirror did not make is replaced only on an explicit -y; a saved "overwrite" skips it.
    mirror.foreignPolicy = options.overwrite                            ? kTargetOverwrite
                           : settings.TargetExistsOpt == kTargetRename ? kTargetRename
                                                                       : kTargetSkip;
    // A mirror replaces its own stale targets (and only those: MayCommit); its names are its own tree (or the
    // pattern).
    settings.DestOutputFolderOpt = kOutputIntoFolder;
    settings.CreateDirs = 0;
    settings.OutputFiles2MyDocuments = 0;
    settings.TargetExistsOpt = kTargetOverwrite;

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
    // A file the mirror did not make holds the target: left as it is, the source skipped.
    const auto blockedLine = [&](size_t i, const MirrorStep& step) {
        EntryResult result;
        result.skipped = true;
        result.note = MakeNote(NoteCode::Skipped);
        const EntryStatus status{EntryState::NotConverted, result.note, {}};
        if (!options.json) {
            progress.Lock();
            progress.Clear();
            std::cerr << EscapeText(step.source) << ": " << EscapeText(NoteText(result.note)) << " ("
                      << EscapeText(step.target) << ")\n";
            progress.Unlock();
        }
        printer.Set(i, ConvertLine(step.source, StatusCode::Skipped, status, step.target, result, options.json));
        ++counts.skipped;
    };
    if (options.dryRun) {
        for (size_t i = 0; i < plan.steps.size(); ++i) {
            const MirrorStep& step = plan.steps[i];
            if (step.blocked) {
                blockedLine(i, step);
                continue;
            }
            const char* status = step.action == MirrorAction::Convert ? "planned"
                                 : step.action == MirrorAction::Copy  ? "copy planned"
                                                                      : "removal planned";
            printer.Set(i, StepLine(step, status, dest, options.json));
            counts.planned += step.action == MirrorAction::Convert;
        }
    } else {
        std::set<std::string> folders = {dest};  // the manifest's own temporary files too
        for (const std::string& target : plan.planned) folders.insert(FolderPart(target));
        SweepMirrorLeftovers(folders);
        MirrorChanges changes(dest, plan);
        // Copies and removals are quick: done here in order; conversions go to the run.
        std::vector<FileItem> items;
        std::vector<const MirrorStep*> converting;
        std::vector<size_t> lineOf;
        SettledNames settled;
        for (size_t i = 0; i < plan.steps.size() && !progress.CancelRequested(); ++i) {
            const MirrorStep& step = plan.steps[i];
            if (step.blocked) {
                blockedLine(i, step);
                continue;
            }
            if (step.action == MirrorAction::Convert) {
                items.push_back(MirrorItem(step, settled));
                converting.push_back(&step);
                lineOf.push_back(i);
                continue;
            }
            if (step.action == MirrorAction::Copy) {
                const MirrorChanges::Outcome outcome = changes.Copy(step);
                if (outcome == MirrorChanges::Outcome::Refused) {
                    blockedLine(i, step);
                } else if (outcome == MirrorChanges::Outcome::Done) {
                    ++copied;
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
            // A target that is not a file the mirror made as it made it (a folder, a link) is left, and forgotten.
            const bool gone = changes.Prune(step);
            removed += gone && !step.target.empty();
            printer.Set(i, StepLine(step, gone ? "removed" : "kept", dest, options.json));
        }
        std::vector<FileItem*> pointers;
        for (FileItem& item : items) pointers.push_back(&item);
        MirrorObserver observer(printer, progress, converting, lineOf, pointers, changes, options.json, report);
        if (!pointers.empty() && !progress.CancelRequested()) {
            RunOptions run;
            run.jobs = options.jobs > 0 ? options.jobs : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
            run.ensureSoundFont = LoadDefaultSoundFont;
            run.sourcesProbed = false;
            run.settledNames = &settled;
            progress.SetRunRange(static_cast<int>(pointers.size()));
            RunConversion(pointers, settings, progress, observer, run);
        }
        counts.Add(observer.counts());
        if (!changes.Flush()) {
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
