#pragma once
// A converted copy of a folder kept in step with it: the manifest of what the mirror made, and the plan of a
// mirror run (what is up to date, what converts, what is copied, what is pruned).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/FileItem.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

class SettledNames;

// One target the mirror made and the source it came from, as the source was then.
struct MirrorRecord {
    std::string target;    // relative to the mirror's folder
    std::string source;    // relative to the source folder
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t settings = 0;  // OutputFingerprint of the conversion, kCopiedAsIs for a copy
};

constexpr uint64_t kCopiedAsIs = 1;

// The manifest file in the mirror's folder: one line per target, "target<TAB>source<TAB>size<TAB>mtime<TAB>hash"
// (\t, \n and \\ escaped). It is only ever replaced whole (a rename), so a killed run leaves the old or the new.
class MirrorManifest {
public:
    static constexpr const char* kFileName = ".pelloran-mirror";
    enum class LoadStatus { Loaded, Missing, Unreadable };
    // Lines that do not parse, or name a path that leaves its folder, are left out and counted.
    LoadStatus Load(const std::string& mirrorFolder);
    void Parse(const std::string& text);
    std::string Text() const;
    const std::map<std::string, MirrorRecord>& bySource() const { return bySource_; }
    void Put(const MirrorRecord& record) { bySource_[record.source] = record; }
    void Remove(const std::string& source) { bySource_.erase(source); }
    size_t damagedLines() const { return damaged_; }

private:
    std::map<std::string, MirrorRecord> bySource_;
    size_t damaged_ = 0;
};

// Writes changes into the manifest of mirrorFolder under its lock: what other processes (shards) wrote meanwhile
// is read again, the records put and removed are applied, and the new file replaces the old one by a rename.
// False with errno when it cannot be written.
bool CommitManifest(const std::string& mirrorFolder, const std::vector<MirrorRecord>& put,
                    const std::vector<std::string>& removedSources);

// Notes, before a finished work file takes a target's name, the work file's identity (device, inode), the target
// and its source, in a journal beside the manifest. A run killed after that rename but before the manifest's
// next write leaves a target the manifest does not list: the note tells the next run it is the mirror's own
// (the same file), not the user's. Notes of targets the manifest lists, and stale ones, go when it is written.
bool NotePending(const std::string& mirrorFolder, const std::string& relativeTarget,
                 const std::string& relativeSource, const std::string& workPath);

// A hash of every setting that shapes an output of the chosen format: the general options that change samples
// or names, and the chosen format's own; not folders, policies, jobs or the window's state.
uint64_t OutputFingerprint(const ConvertSettings& settings);

// True for a relative path that stays below its folder: no leading '/', no "." or ".." component, no empty one.
bool IsContainedPath(const std::string& relative);

// A stable hash of a path (FNV-1a, 64 bits): shards choose by it.
uint64_t StablePathHash(const std::string& path);

struct MirrorOptions {
    bool copyLossy = false;               // lossy sources no better than the output are copied as they are
    std::vector<std::string> copyOther;   // name patterns of companion files copied as they are
    bool prune = false;
    // A file the mirror did not make where a new target goes: kTargetRename settles another name around it,
    // kTargetSkip leaves the source unconverted, kTargetOverwrite (an explicit -y) replaces it.
    int32_t foreignPolicy = kTargetRename;
    int shardK = 1, shardN = 1;           // this process's part of the plan
};

enum class MirrorAction { Convert, Copy, Prune };

// One step of a mirror run.
struct MirrorStep {
    MirrorAction action = MirrorAction::Convert;
    std::string source;       // absolute path ("" for Prune)
    std::string relSource;    // relative to the source folder
    std::string target;       // absolute: where it goes (Convert: with suffix when settled), or what Prune removes
    std::string subFolder;    // Convert: the tree below the mirror folder ("" with a name pattern)
    std::string suffix;       // Convert: what the name takes after its plain one (settled names)
    std::string oldTarget;    // absolute: the manifest's target of this source when the plan no longer uses it
    bool blocked = false;     // Convert, Copy: a file the mirror did not make holds the target; left alone
    uint64_t size = 0;
    int64_t mtimeNs = 0;
};

struct MirrorPlan {
    std::vector<MirrorStep> steps;   // this shard's, in source path order; prunes last
    size_t upToDate = 0;             // this shard's sources left alone
    size_t goneKept = 0;             // records of gone sources left because --prune was not given
    std::set<std::string> planned;   // every target of the whole plan (absolute), all shards
    std::set<std::string> ownTargets;  // existing files the run may replace (absolute): the mirror's own
    uint64_t fingerprint = 0;
    size_t damagedLines = 0;
};

// Plans a mirror run: every file below sourceFolder (hidden ones and the mirror folder left out), against the
// manifest. settings: the output format and options, with DestSpecifiedFolder the mirror folder. Sources of the
// same size, mtime and fingerprint whose target exists cost one stat each and nothing more.
MirrorPlan PlanMirror(const std::string& sourceFolder, const std::string& mirrorFolder,
                      const ConvertSettings& settings, const MirrorOptions& options,
                      const std::function<bool()>& cancelled = {});

// Copies source onto target through a hidden work file beside it, replacing target only when complete;
// committing(workPath) is asked first (false: target left as it is). False with errno.
bool CopyAsIs(const std::string& source, const std::string& target,
              const std::function<bool(const std::string&)>& committing = {});

// The entry of a Convert step for the run; its settled suffix goes into settled.
FileItem MirrorItem(const MirrorStep& step, SettledNames& settled);

// What a mirror run does in the mirror folder besides converting, for the command line and the window alike:
// copies, removals, the manifest's records (written at most once a second and on Flush, so that a killed run
// loses at most its last moments: those targets are converted again), and the guard that no file the mirror did
// not make is ever replaced. Calls may come from the run's worker threads.
class MirrorChanges {
public:
    MirrorChanges(std::string mirrorFolder, const MirrorPlan& plan);

    enum class Outcome { Done, Refused, Failed };
    // A Copy step: copied and recorded, its old target removed. Refused: a file the mirror did not make is
    // there; Failed: errno says why.
    Outcome Copy(const MirrorStep& step);
    // A Prune step: its target removed (true), or left because it is not a file the mirror made as it made it
    // (a folder, a link: false); the record goes either way.
    bool Prune(const MirrorStep& step);
    // A Convert step's output is in place at target: recorded, the old target removed.
    void Converted(const MirrorStep& step, const std::string& target);
    // Asked before a finished file takes a target's name (RunObserver::Committing): true when nothing is there,
    // or what is there is the mirror's own (the plan's ownTargets, or committed earlier in this run); the work
    // file is noted (NotePending) before true is given.
    bool MayCommit(const std::string& relSource, const std::string& workPath, const std::string& target);
    // Writes what is not written yet; false with errno.
    bool Flush();

private:
    void Put(MirrorRecord record);
    void Remove(std::string source);
    bool FlushLocked();
    std::string Relative(const std::string& path) const;

    std::string folder_;  // with a trailing '/'
    const MirrorPlan& plan_;
    std::mutex mutex_;
    std::set<std::string> committed_;
    std::vector<MirrorRecord> put_;
    std::vector<std::string> removed_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// Removes what killed runs left in the folders of targets: work files, copies and manifests half written, whose
// lock is free and that are over 2 s old.
void SweepMirrorLeftovers(const std::set<std::string>& folders);

// Removes a target the mirror made, then the folders above it that became empty, up to the mirror folder.
// A target that is not a regular file below the mirror folder (through no link) is never touched.
bool RemoveMirrored(const std::string& mirrorFolder, const std::string& relativeTarget);

}  // namespace pelloran
