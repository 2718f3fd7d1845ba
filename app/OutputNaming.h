#pragma once
// Where an entry's output goes: folder, name, collision policy, writability, documents fallback.

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/FileItem.h"
#include "app/RunStatus.h"
#include "platform/Paths.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

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

private:
    static std::string Key(const std::string& path);
    mutable std::mutex mutex_;
    std::set<std::string> paths_;
    std::set<std::string> folders_;
    std::set<FileIdentity> sources_;
    bool dryRun_ = false;
};

// The output name a pattern gives for an entry, relative to the output folder and without extension
// ("Ana/Songs/01 - Intro"); false with the reason (a Pattern... note) when the pattern is malformed or the
// name would leave the output folder. Fields: the tag names (title, artist, album, year, genre, comment, track, composer,
// copyright), stem, ext, format, parent; {track:02} pads numbers; {artist|Unknown Artist} gives a fallback.
bool ExpandNamePattern(const std::string& pattern, const FileItem& item, int32_t outputFormat, std::string& name,
                       Note& error);

// True: item.targetPath holds a free name, or with overwrite an existing file to replace (replaces is then
// set). False: why holds the reason and targetPath is unchanged.
bool MakeTargetPath(FileItem& item, const ConvertSettings& settings, Note& why,
                    TargetReservations* reservations = nullptr, bool* replaces = nullptr);

// Makes the planned target's folder and checks that it takes a new file; where it cannot, the entry is named
// again for real (the documents folder when that option is on). Same results as MakeTargetPath.
bool PrepareTarget(FileItem& item, const ConvertSettings& settings, Note& why,
                   TargetReservations& reservations, bool& replaces);

}  // namespace pelloran
