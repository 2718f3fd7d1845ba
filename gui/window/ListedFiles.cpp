#include "gui/window/ListedFiles.h"

#include "platform/Paths.h"

namespace pelloran {

namespace {

std::pair<std::string, int> TrackKey(const FileItem& item) {
    const std::string& path = item.cue->path.empty() ? item.sourcePath : item.cue->path;
    const auto id = IdentityOf(path);
    std::string file = id ? std::to_string(id->device) + ":" + std::to_string(id->inode) : "/" + path;
    return {std::move(file), item.cue->track};
}

}  // namespace

bool ListedFiles::Insert(const FileItem& item) {
    if (!item.cue) return files_.Insert(item.sourcePath);
    if (!tracks_.insert(TrackKey(item)).second) return false;
    files_.Insert(item.sourcePath);  // the album's file: listed already from its first track
    return true;
}

void ListedFiles::Erase(const FileItem& item) {
    if (item.cue) tracks_.erase(TrackKey(item));
    files_.Erase(item.sourcePath);
}

void ListedFiles::Clear() {
    files_.Clear();
    tracks_.clear();
}

}  // namespace pelloran
