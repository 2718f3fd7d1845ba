#pragma once
// What the list holds, for the duplicate check: a file by its identity, an album's track by its file and
// number (every track of an album shares the album's file).

#include <set>
#include <string>
#include <utility>

#include "app/FileItem.h"
#include "app/FileList.h"

namespace pelloran {

class ListedFiles {
public:
    // False when the entry is listed already; otherwise records it.
    bool Insert(const FileItem& item);
    // A track gone from the list lets its album be added again: the tracks still listed are then skipped.
    void Erase(const FileItem& item);
    bool Contains(const std::string& path) const { return files_.Contains(path); }
    void Clear();
    // The files listed, whole or as albums: the add-files job leaves them out.
    const PathIndex& files() const { return files_; }

private:
    PathIndex files_;
    std::set<std::pair<std::string, int>> tracks_;  // (file identity or path, track number)
};

}  // namespace pelloran
