#pragma once
// A mirror run as the window drives it: the plan's steps sorted for a preview, then carried out (copies and
// removals in order, conversions through the run) with the manifest kept up to date. No Qt here.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include "app/Mirror.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// What a step does, as the preview names it.
enum class MirrorChange { New, Changed, Copy, Remove, Blocked };

// The plan of sourceFolder into mirrorFolder and what each of its steps is against the manifest.
struct MirrorPreview {
    std::string source, mirror;  // with a trailing '/'
    ConvertSettings settings;    // as the run uses them
    MirrorPlan plan;
    std::vector<MirrorChange> changes;  // one per step
    size_t added = 0, changed = 0, copies = 0, removals = 0, blocked = 0;
};

// The settings a mirror converts with: the mirror folder as the output, its own tree for names, and its own
// stale targets replaced (a file it did not make is renamed around or skipped, never replaced).
ConvertSettings MirrorSettings(ConvertSettings settings, const std::string& mirrorFolder);

// Plans the mirror; false when the folders cannot be mirrored (the same one, or the source inside the mirror).
bool PreviewMirror(const std::string& sourceFolder, const std::string& mirrorFolder, const ConvertSettings& settings,
                   bool prune, MirrorPreview& preview, const std::function<bool()>& cancelled = {});

// How one step ended.
enum class MirrorStepEnd { Done, Failed, LeftAlone, Cancelled };

struct MirrorOutcome {
    size_t converted = 0, copied = 0, removed = 0, failed = 0, skipped = 0;
    bool cancelled = false;
    bool manifestWritten = true;
};

// Carries out a preview's plan. stepDone(step, end) follows each step (steps not reached after a cancel get
// none); fraction(0..1) the whole run. Both may be called from worker threads.
MirrorOutcome RunMirrorPreview(const MirrorPreview& preview, int jobs, const std::atomic<bool>& cancel,
                               const std::function<void(size_t, MirrorStepEnd)>& stepDone,
                               const std::function<void(double)>& fraction);

}  // namespace pelloran
