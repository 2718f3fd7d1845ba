#include "gui/window/MirrorRun.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>

#include "app/ConversionRun.h"
#include "app/OutputNaming.h"
#include "app/Progress.h"
#include "platform/Paths.h"
#include "platform/SoundFont.h"

namespace pelloran {

namespace {

std::string Relative(const std::string& path, const std::string& folder) {
    return path.rfind(folder, 0) == 0 ? path.substr(folder.size()) : path;
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// The manifest's changes, written under its lock now and then and at the end: a run that is killed loses at
// most its last moments (those targets convert again).
class ManifestChanges {
public:
    explicit ManifestChanges(std::string folder) : folder_(std::move(folder)) {}
    void Put(MirrorRecord record) {
        std::lock_guard lock(mutex_);
        put_.push_back(std::move(record));
        if (std::chrono::steady_clock::now() - last_ > std::chrono::seconds(1)) FlushLocked();
    }
    void Remove(std::string source) {
        std::lock_guard lock(mutex_);
        removed_.push_back(std::move(source));
    }
    bool Flush() {
        std::lock_guard lock(mutex_);
        return FlushLocked();
    }

private:
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

// A finished file takes a target's name only when nothing is there or what is there is the mirror's own; the
// work file is noted first, so a run killed right after the rename still knows the target as its own.
class CommitGuard {
public:
    CommitGuard(const MirrorPreview& preview) : preview_(preview) {}
    bool May(const std::string& relSource, const std::string& workPath, const std::string& target) {
        struct stat st {};
        std::lock_guard lock(mutex_);
        if (lstat(target.c_str(), &st) == 0 && preview_.plan.ownTargets.count(target) == 0 &&
            committed_.count(target) == 0)
            return false;
        NotePending(preview_.mirror, Relative(target, preview_.mirror), relSource, workPath);
        committed_.insert(target);
        return true;
    }

private:
    const MirrorPreview& preview_;
    std::mutex mutex_;
    std::set<std::string> committed_;
};

// The whole run's fraction: finished steps and the parts of running conversions.
class RunFraction {
public:
    RunFraction(size_t steps, std::function<void(double)> report) : steps_(steps), report_(std::move(report)) {}
    void Part(size_t conversion, double part) {
        std::lock_guard lock(mutex_);
        if (conversion >= parts_.size()) parts_.resize(conversion + 1, 0.0);
        parts_[conversion] = part;
        ReportLocked();
    }
    void Done(size_t conversion) {
        std::lock_guard lock(mutex_);
        if (conversion < parts_.size()) parts_[conversion] = 0.0;
        ++done_;
        ReportLocked();
    }
    void StepDone() { Done(SIZE_MAX); }

private:
    void ReportLocked() {
        if (!report_ || steps_ == 0) return;
        double sum = static_cast<double>(done_);
        for (double part : parts_) sum += part;
        report_(std::min(1.0, sum / static_cast<double>(steps_)));
    }
    size_t steps_;
    std::function<void(double)> report_;
    std::mutex mutex_;
    std::vector<double> parts_;
    size_t done_ = 0;
};

class CancelFlag : public NullProgress {
public:
    explicit CancelFlag(const std::atomic<bool>& cancel) : cancel_(cancel) {}
    bool CancelRequested() const override { return cancel_.load(); }

private:
    const std::atomic<bool>& cancel_;
};

// The conversions of the mirror: each converted target recorded, the old target of a source that moved
// removed once the new one is in place, a file the mirror did not make never replaced.
class Conversions : public RunObserver {
public:
    Conversions(const MirrorPreview& preview, std::vector<size_t> stepOf, std::vector<FileItem*>& items,
                ManifestChanges& manifest, CommitGuard& guard, RunFraction& fraction,
                const std::function<void(size_t, MirrorStepEnd)>& stepDone)
        : preview_(preview), stepOf_(std::move(stepOf)), items_(items), manifest_(manifest), guard_(guard),
          fraction_(fraction), stepDone_(stepDone), states_(stepOf_.size(), EntryState::NotConverted) {}

    void SetStatus(size_t index, const EntryStatus& status) override {
        std::lock_guard lock(mutex_);
        if (index < states_.size()) states_[index] = status.state;
    }
    void EntryProgress(size_t index, double part) override { fraction_.Part(index, part); }
    bool Committing(size_t index, const std::string& workPath, const std::string& target) override {
        return guard_.May(Step(index).relSource, workPath, target);
    }
    void EntryFinished(size_t index, const EntryResult& result) override {
        const MirrorStep& step = Step(index);
        const std::string& dest = preview_.mirror;
        MirrorStepEnd end = MirrorStepEnd::Failed;
        {
            std::lock_guard lock(mutex_);
            if (result.ok) end = MirrorStepEnd::Done;
            else if (result.skipped) end = MirrorStepEnd::LeftAlone;
            else if (states_[index] == EntryState::Cancelled) end = MirrorStepEnd::Cancelled;
            outcome.converted += end == MirrorStepEnd::Done;
            outcome.skipped += end == MirrorStepEnd::LeftAlone;
            outcome.failed += end == MirrorStepEnd::Failed;
        }
        if (result.ok) {
            manifest_.Put({Relative(items_[index]->targetPath, dest), step.relSource, step.size, step.mtimeNs,
                           preview_.plan.fingerprint});
            if (!step.oldTarget.empty() && preview_.plan.planned.count(step.oldTarget) == 0)
                RemoveMirrored(dest, Relative(step.oldTarget, dest));
        }
        fraction_.Done(index);
        if (stepDone_) stepDone_(stepOf_[index], end);
    }
    // Questions (a runtime or a SoundFont to fetch) are answered No: the mirror goes on without.
    bool Ask(Question, const QuestionData&) override { return false; }

    MirrorOutcome outcome;

private:
    const MirrorStep& Step(size_t index) const { return preview_.plan.steps[stepOf_[index]]; }
    const MirrorPreview& preview_;
    std::vector<size_t> stepOf_;
    std::vector<FileItem*>& items_;
    ManifestChanges& manifest_;
    CommitGuard& guard_;
    RunFraction& fraction_;
    const std::function<void(size_t, MirrorStepEnd)>& stepDone_;
    std::mutex mutex_;
    std::vector<EntryState> states_;
};

}  // namespace

ConvertSettings MirrorSettings(ConvertSettings settings, const std::string& mirrorFolder) {
    settings.DestSpecifiedFolder = mirrorFolder;
    settings.DestOutputFolderOpt = kOutputIntoFolder;
    settings.CreateDirs = 0;
    settings.OutputFiles2MyDocuments = 0;
    settings.TargetExistsOpt = kTargetOverwrite;
    return settings;
}

bool PreviewMirror(const std::string& sourceFolder, const std::string& mirrorFolder, const ConvertSettings& settings,
                   bool prune, MirrorPreview& preview, const std::function<bool()>& cancelled) {
    preview = MirrorPreview{};
    if (sourceFolder.empty() || mirrorFolder.empty()) return false;
    preview.source = WithSlash(ResolveFolderPath(sourceFolder));
    preview.mirror = WithSlash(ResolveFolderPath(mirrorFolder));
    if (preview.source.rfind(preview.mirror, 0) == 0) return false;
    MirrorOptions options;
    options.prune = prune;
    // A file the window's mirror did not make is renamed around when the window renames, else left alone.
    options.foreignPolicy = settings.TargetExistsOpt == kTargetRename ? kTargetRename : kTargetSkip;
    preview.settings = MirrorSettings(settings, preview.mirror);
    preview.plan = PlanMirror(preview.source, preview.mirror, preview.settings, options, cancelled);

    MirrorManifest manifest;
    manifest.Load(preview.mirror);
    for (const MirrorStep& step : preview.plan.steps) {
        MirrorChange change = MirrorChange::Remove;
        if (step.blocked) change = MirrorChange::Blocked;
        else if (step.action == MirrorAction::Copy) change = MirrorChange::Copy;
        else if (step.action == MirrorAction::Convert)
            change = manifest.bySource().count(step.relSource) > 0 ? MirrorChange::Changed : MirrorChange::New;
        preview.changes.push_back(change);
        switch (change) {
            case MirrorChange::New: ++preview.added; break;
            case MirrorChange::Changed: ++preview.changed; break;
            case MirrorChange::Copy: ++preview.copies; break;
            case MirrorChange::Remove: ++preview.removals; break;
            case MirrorChange::Blocked: ++preview.blocked; break;
        }
    }
    return true;
}

MirrorOutcome RunMirrorPreview(const MirrorPreview& preview, int jobs, const std::atomic<bool>& cancel,
                               const std::function<void(size_t, MirrorStepEnd)>& stepDone,
                               const std::function<void(double)>& fraction) {
    MirrorOutcome outcome;
    const std::string& dest = preview.mirror;
    const MirrorPlan& plan = preview.plan;
    if (!EnsureFolder(dest, true)) {
        outcome.failed = plan.steps.size();
        return outcome;
    }
    std::set<std::string> folders;
    for (const std::string& target : plan.planned) folders.insert(FolderPart(target));
    SweepMirrorLeftovers(folders);

    ManifestChanges manifest(dest);
    CommitGuard guard(preview);
    RunFraction whole(plan.steps.size() - preview.blocked, fraction);
    // Copies and removals are quick: done here in order; conversions go to the run.
    std::vector<FileItem> items;
    std::vector<size_t> stepOf;
    SettledNames settled;
    for (size_t i = 0; i < plan.steps.size() && !cancel; ++i) {
        const MirrorStep& step = plan.steps[i];
        if (step.blocked) {
            ++outcome.skipped;
            continue;
        }
        if (step.action == MirrorAction::Convert) {
            FileItem item;
            item.sourcePath = step.source;
            item.subFolder = step.subFolder;
            items.push_back(std::move(item));
            if (!step.suffix.empty()) settled.Set(step.source, step.suffix);
            stepOf.push_back(i);
            continue;
        }
        MirrorStepEnd end = MirrorStepEnd::Done;
        if (step.action == MirrorAction::Copy) {
            bool refused = false;
            const bool ok = CopyAsIs(step.source, step.target, [&](const std::string& work) {
                refused = !guard.May(step.relSource, work, step.target);
                return !refused;
            });
            if (refused) {
                ++outcome.skipped;
                end = MirrorStepEnd::LeftAlone;
            } else if (ok) {
                ++outcome.copied;
                manifest.Put({Relative(step.target, dest), step.relSource, step.size, step.mtimeNs, kCopiedAsIs});
                if (!step.oldTarget.empty() && plan.planned.count(step.oldTarget) == 0)
                    RemoveMirrored(dest, Relative(step.oldTarget, dest));
            } else {
                ++outcome.failed;
                end = MirrorStepEnd::Failed;
            }
        } else {
            // A target that is not a file the mirror made as it made it (a folder, a link) is left and forgotten.
            if (!step.target.empty() && RemoveMirrored(dest, Relative(step.target, dest))) ++outcome.removed;
            manifest.Remove(step.relSource);
        }
        whole.StepDone();
        if (stepDone) stepDone(i, end);
    }

    std::vector<FileItem*> pointers;
    for (FileItem& item : items) pointers.push_back(&item);
    Conversions observer(preview, stepOf, pointers, manifest, guard, whole, stepDone);
    if (!pointers.empty() && !cancel) {
        RunOptions run;
        run.jobs = std::clamp(jobs, 1, 64);
        run.ensureSoundFont = LoadDefaultSoundFont;
        run.sourcesProbed = false;
        run.settledNames = &settled;
        CancelFlag progress(cancel);
        RunConversion(pointers, preview.settings, progress, observer, run);
    }
    outcome.converted = observer.outcome.converted;
    outcome.skipped += observer.outcome.skipped;
    outcome.failed += observer.outcome.failed;
    outcome.cancelled = cancel.load();
    outcome.manifestWritten = manifest.Flush();
    return outcome;
}

}  // namespace pelloran
