#pragma once
// Where an entry's output goes: folder, name, collision policy, writability, documents fallback.

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/FileItem.h"
#include "app/RunStatus.h"
#include "platform/Paths.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// Names settled over a whole input list before any part of it is taken, so that every shard and every re-run
// names a source alike: the text a source's name takes after its plain name when its plain target meets
// another source's.
class SettledNames {
public:
    // "" for a source whose plain name is its own (and for a source not settled).
    std::string SuffixOf(const std::string& sourcePath) const;
    void Set(const std::string& sourcePath, std::string suffix) { suffix_[sourcePath] = std::move(suffix); }
    size_t size() const { return suffix_.size(); }

private:
    std::map<std::string, std::string> suffix_;
};

// Target names of a run: those being written and those already written. A later entry never takes one of
// them, whatever the collision policy. Names are compared with their folder resolved and their case folded,
// so that two paths to one folder meet and a case-insensitive file system (FAT, NTFS, SMB) keeps both files.
// It also knows the identity of every source of the run: no entry ever writes over one of them.
class TargetReservations {
public:
    // The run's sources, before the first write.
    void SetSources(const std::vector<std::string>& paths);
    // True when path reaches a file that is one of the run's sources (through any link).
    bool IsSource(const std::string& path) const;
    bool Contains(const std::string& path) const;
    void Reserve(const std::string& path);
    // Gives back a name whose file was not written.
    void Release(const std::string& path);
    // True the first time a folder is named in this run.
    bool FirstVisit(const std::string& folder);
    // A dry run names targets without making folders or probing them.
    void SetDryRun(bool dryRun) { dryRun_ = dryRun; }
    bool dryRun() const { return dryRun_; }
    // The names settled over the whole input list (null: each clash is met in input order).
    void SetSettled(const SettledNames* names) { settled_ = names; }
    const SettledNames* settled() const { return settled_; }

private:
    static std::string Key(const std::string& path);
    mutable std::mutex mutex_;
    std::set<std::string> paths_;
    std::set<std::string> folders_;
    std::set<FileIdentity> sources_;
    bool dryRun_ = false;
    const SettledNames* settled_ = nullptr;
};

// The output name a pattern gives for an entry, relative to the output folder and without extension
// ("Ana/Songs/01 - Intro"); false with the reason (a Pattern... note) when the pattern is malformed or the
// name would leave the output folder. Fields: the tag names (title, artist, album, year, genre, comment, track, composer,
// copyright), stem, ext, format, parent; {track:02} pads numbers; {artist|Unknown Artist} gives a fallback.
bool ExpandNamePattern(const std::string& pattern, const FileItem& item, int32_t outputFormat, std::string& name,
                       Note& error);

// The target a source gets before any clash or disk check: the output folder (or the source's), the kept tree,
// the name (from the pattern and item.tags) and the extension. False with the reason when the pattern fails.
bool PlainTarget(const FileItem& item, const ConvertSettings& settings, std::string& target, Note& why);

// Settles the names of a whole list. Sources whose plain targets meet (case folded) are taken in path order:
// the first keeps its name; another takes " (ext)" from its own extension when no other of them shares that
// extension, else "_1", "_2"... (the first such name no one holds). pinned: targets (case folded, as
// FoldedTarget gives) that other sources already own, such as a mirror's; they are never given out. Names
// from tags need item.tags (read here when not read yet); tracks of CUE sheets keep their own names.
SettledNames SettleNames(const std::vector<FileItem*>& items, const ConvertSettings& settings,
                         const std::set<std::string>& pinned = {});
// A target as SettleNames compares it.
std::string FoldedTarget(const std::string& target);

// True: item.targetPath holds a free name, or with overwrite an existing file to replace (replaces is then
// set). False: why holds the reason and targetPath is unchanged.
bool MakeTargetPath(FileItem& item, const ConvertSettings& settings, Note& why,
                    TargetReservations* reservations = nullptr, bool* replaces = nullptr);

// Makes the planned target's folder and checks that it takes a new file; where it cannot, the entry is named
// again for real (the documents folder when that option is on). Same results as MakeTargetPath.
bool PrepareTarget(FileItem& item, const ConvertSettings& settings, Note& why,
                   TargetReservations& reservations, bool& replaces);

}  // namespace pelloran
