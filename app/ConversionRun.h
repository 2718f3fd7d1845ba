#pragma once
// A conversion run: every chosen entry into the chosen output format, with statuses, Cancel and the
// output shown at the end.

#include <functional>
#include <string>
#include <vector>

#include "app/FileItem.h"
#include "app/RunStatus.h"
#include "decode/DecoderFactory.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

class ProgressSink;
class SettledNames;

// How one entry of a run ended.
struct EntryResult {
    bool ok = false;         // converted
    bool skipped = false;    // the target existed and the policy said skip
    bool notLoaded = false;  // no reader took the source (a list that was not probed finds it out here)
    bool truncated = false;  // converted, but the source ended before its header said
    Note note;               // why it failed or was skipped, or what to know about a conversion
    // With VerifyOutput: the output was decoded again and matched the source (app/Verify.h); the frames of the
    // source and of the decoded output (0 when the check did not run).
    bool verifyRan = false;
    bool verified = false;
    uint64_t framesSource = 0;
    uint64_t framesOutput = 0;
    // Tag fields (property names) and pictures ("PICTURE") of the source the output could not hold.
    std::vector<std::string> tagsDropped;
};

// What the run tells its front end besides progress. Calls may come from worker threads when jobs > 1.
class RunObserver : public UserPrompt {
public:
    // The Status column of entry index (its position in the run).
    virtual void SetStatus(size_t index, const EntryStatus& status) = 0;
    // The first failure with a note in this program's life widens the Status column.
    virtual void WidenStatusColumn() {}
    virtual void ScrollTo(size_t index) { (void)index; }
    // How far the conversion of entry index is, 0..1 (several entries run at once with jobs > 1).
    virtual void EntryProgress(size_t index, double fraction) {
        (void)index;
        (void)fraction;
    }
    // The entry's final status is set. Entries not reached after Cancel get no call.
    virtual void EntryFinished(size_t index, const EntryResult& result) {
        (void)index;
        (void)result;
    }
    // The finished work file of entry index is about to take the name target. False leaves the target as it
    // is and the entry skipped (a mirror refuses a file it did not make); a true answer may note the work file's
    // identity first, so that a process killed right after the rename still knows the target as its own.
    virtual bool Committing(size_t index, const std::string& workPath, const std::string& target) {
        (void)index;
        (void)workPath;
        (void)target;
        return true;
    }
    // Shows the first output file in the file manager (the window does; the engine never does).
    virtual void ShowOutput(const std::string& path) { (void)path; }
};

struct RunOptions {
    int jobs = 1;                                // files converted at once
    // The list was probed (the window's always is): a source no reader takes then fails its conversion;
    // otherwise the conversion's open is its probe, and such a source is "not loaded".
    bool sourcesProbed = true;
    std::optional<ReaderKind> preferredReader;   // --decoder
    // Loads the MIDI SoundFont when it is not loaded yet; true when MIDI can be rendered.
    std::function<bool()> ensureSoundFont;
    bool dryRun = false;  // name every target and apply the policies, write nothing
    // Names settled over the whole input list before a shard of it was taken (app/OutputNaming.h); null: clashes
    // are met in input order.
    const SettledNames* settledNames = nullptr;
};

struct RunSummary {
    bool cancelled = false;
    bool aborted = false;  // stopped before converting (WMA runtime or SoundFont question)
    size_t succeeded = 0;
    size_t failed = 0;
    std::vector<Note> notes;  // the note of each converted or failed entry (empty when none)
};

// Address of the SoundFont's download page.
extern const char* const kSoundFontDownloadAddress;

RunSummary RunConversion(std::vector<FileItem*>& items, const ConvertSettings& settings, ProgressSink& progress,
                         RunObserver& observer, const RunOptions& options);

}  // namespace pelloran
