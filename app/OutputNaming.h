#pragma once
// Where an entry's output goes: folder, name, collision policy, writability, documents fallback.

#include <mutex>
#include <set>
#include <string>

#include "app/FileItem.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// Target names of a run: those being written and those already written. A later entry never takes one of
// them, whatever the collision policy. Names are compared with their folder resolved, so that two paths to
// one folder meet.
class TargetReservations {
public:
    bool Contains(const std::string& path) const;
    void Reserve(const std::string& path);
    // Gives back a name whose file was not written.
    void Release(const std::string& path);
    // True the first time a folder is named in this run.
    bool FirstVisit(const std::string& folder);

private:
    static std::string Key(const std::string& path);
    mutable std::mutex mutex_;
    std::set<std::string> paths_;
    std::set<std::string> folders_;
};

// True: item.targetPath holds a free name, or with overwrite an existing file to replace (replaces is then
// set). False: status holds the reason and targetPath is unchanged.
bool MakeTargetPath(FileItem& item, const ConvertSettings& settings, std::string& status,
                    TargetReservations* reservations = nullptr, bool* replaces = nullptr);

inline constexpr const char* kStatusSkipped = "Target exists and skipped";
inline constexpr const char* kStatusTargetIsSource =
    "Target file name is same as original file that can't be overwritten. Please output files to a custom folder.";

}  // namespace pelloran
