#include "gui/window/MirrorRun.h"

#include <algorithm>
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

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

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

// The mirror's conversions: each one's commit guarded and its target recorded by MirrorChanges.
class Conversions : public RunObserver {
public:
    Conversions(const MirrorPlan& plan, std::vector<size_t> stepOf, std::vector<FileItem*>& items,
                MirrorChanges& changes, RunFraction& fraction,
                const std::function<void(size_t, MirrorStepEnd)>& stepDone)
        : plan_(plan), stepOf_(std::move(stepOf)), items_(items), changes_(changes), fraction_(fraction),
          stepDone_(stepDone), states_(stepOf_.size(), EntryState::NotConverted) {}

    void SetStatus(size_t index, const EntryStatus& status) override {
        std::lock_guard lock(mutex_);
        if (index < states_.size()) states_[index] = status.state;
    }
    void EntryProgress(size_t index, double part) override { fraction_.Part(index, part); }
    bool Committing(size_t index, const std::string& workPath, const std::string& target) override {
        return changes_.MayCommit(Step(index).relSource, workPath, target);
    }
    void EntryFinished(size_t index, const EntryResult& result) override {
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
        if (result.ok) changes_.Converted(Step(index), items_[index]->targetPath);
        fraction_.Done(index);
        if (stepDone_) stepDone_(stepOf_[index], end);
    }
    // Questions (a runtime or a SoundFont to fetch) are answered No: the mirror goes on without.
    bool Ask(Question, const QuestionData&) override { return false; }

    MirrorOutcome outcome;

private:
    const MirrorStep& Step(size_t index) const { return plan_.steps[stepOf_[index]]; }
    const MirrorPlan& plan_;
    std::vector<size_t> stepOf_;
    std::vector<FileItem*>& items_;
    MirrorChanges& changes_;
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
    std::set<std::string> folders = {dest};  // the manifest's own temporary files too
    for (const std::string& target : plan.planned) folders.insert(FolderPart(target));
    SweepMirrorLeftovers(folders);

    MirrorChanges changes(dest, plan);
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
            items.push_back(MirrorItem(step, settled));
            stepOf.push_back(i);
            continue;
        }
        MirrorStepEnd end = MirrorStepEnd::Done;
        if (step.action == MirrorAction::Copy) {
            switch (changes.Copy(step)) {
                case MirrorChanges::Outcome::Done: ++outcome.copied; break;
                case MirrorChanges::Outcome::Refused:
                    ++outcome.skipped;
                    end = MirrorStepEnd::LeftAlone;
                    break;
                case MirrorChanges::Outcome::Failed:
                    ++outcome.failed;
                    end = MirrorStepEnd::Failed;
                    break;
            }
        } else if (changes.Prune(step) && !step.target.empty()) {
            ++outcome.removed;  // a folder or a link in a target's place is left, its record forgotten
        }
        whole.StepDone();
        if (stepDone) stepDone(i, end);
    }

    std::vector<FileItem*> pointers;
    for (FileItem& item : items) pointers.push_back(&item);
    Conversions observer(plan, stepOf, pointers, changes, whole, stepDone);
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
    outcome.manifestWritten = changes.Flush();
    return outcome;
}

}  // namespace pelloran
