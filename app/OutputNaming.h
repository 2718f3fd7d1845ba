#pragma once
// Where an entry's output goes: folder, name, collision policy, writability, documents fallback.

#include <mutex>
#include <set>
#include <string>

#include "app/FileItem.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// Target names handed out in a run and not yet written, so that parallel entries do not pick the same name.
class TargetReservations {
public:
    bool Contains(const std::string& path) const;
    void Reserve(const std::string& path);
    void Release(const std::string& path);

private:
    mutable std::mutex mutex_;
    std::set<std::string> paths_;
};

// True: item.targetPath holds a path that does not exist yet (or, with overwrite, the file to replace).
// False: status holds the reason and targetPath is unchanged.
bool MakeTargetPath(FileItem& item, const ConvertSettings& settings, std::string& status,
                    TargetReservations* reservations = nullptr);

}  // namespace pelloran
