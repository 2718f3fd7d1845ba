#include "app/OutputNaming.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "platform/Paths.h"

namespace pelloran {

std::string TargetReservations::Key(const std::string& path) {
    return ResolveFolderPath(FolderPart(path)) + "/" + FileNamePart(path);
}

bool TargetReservations::Contains(const std::string& path) const {
    const std::string key = Key(path);
    std::lock_guard lock(mutex_);
    return paths_.count(key) != 0;
}

void TargetReservations::Reserve(const std::string& path) {
    const std::string key = Key(path);
    std::lock_guard lock(mutex_);
    paths_.insert(key);
}

void TargetReservations::Release(const std::string& path) {
    const std::string key = Key(path);
    std::lock_guard lock(mutex_);
    paths_.erase(key);
}

bool TargetReservations::FirstVisit(const std::string& folder) {
    const std::string key = ResolveFolderPath(folder);
    std::lock_guard lock(mutex_);
    return folders_.insert(key).second;
}

namespace {

std::string Format(const char* pattern, const std::string& value) {
    const int n = std::snprintf(nullptr, 0, pattern, value.c_str());
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, pattern, value.c_str());
    return out;
}

// Checks that a file of that name can be created in its folder without touching an existing file:
// the name must fit the file system and the folder must take a new file.
bool ProbeWritable(const std::string& target) {
    const std::string folder = FolderPart(target);
    const std::string dir = folder.empty() ? "." : folder;
    const long nameMax = pathconf(dir.c_str(), _PC_NAME_MAX);
    if (FileNamePart(target).size() > static_cast<size_t>(nameMax > 0 ? nameMax : NAME_MAX)) return false;
    std::string probe = folder + ".pelloran-probe-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) return false;
    close(fd);
    unlink(probe.c_str());
    return true;
}

}  // namespace

bool MakeTargetPath(FileItem& item, const ConvertSettings& settings, std::string& status,
                    TargetReservations* reservations, bool* replaces) {
    const auto takenInRun = [reservations](const std::string& path) {
        return reservations != nullptr && reservations->Contains(path);
    };
    // A dangling link counts: it is never written through.
    const auto exists = [&](const std::string& path) { return PathOccupied(path) || takenInRun(path); };
    if (replaces != nullptr) *replaces = false;
    const std::string& source = item.sourcePath;
    int mode = settings.DestOutputFolderOpt;
    std::string folder = settings.DestSpecifiedFolder;
    bool keepTree = settings.CreateDirs != 0;
    bool retried = false;
    const size_t extLen = ExtensionPart(source).size();
    const std::string ext = OutputExtension(settings.OutputFormat);

    while (true) {
        std::string base;
        bool failed = false;
        if (mode == kOutputIntoFolder) {
            if (folder.empty() || !EnsureFolder(folder, true)) {
                status = Format("Failed to create folder \"%s\"", folder);
                failed = true;
            } else {
                base = folder;
                if (base.back() != '/') base += '/';
                if (keepTree) {
                    std::string tree = FolderPart(source);
                    for (size_t pos; (pos = tree.find("//")) != std::string::npos;) tree.erase(pos, 1);
                    while (!tree.empty() && tree.front() == '/') tree.erase(0, 1);
                    base += tree;
                    if (!EnsureFolder(base, true)) {
                        status = Format("Failed to create folder \"%s\"", base);
                        failed = true;
                    }
                }
                if (!failed) {
                    const std::string name = FileNamePart(source);
                    base += name.substr(0, name.size() - std::min(extLen, name.size()));
                }
            }
        } else {
            base = source.substr(0, source.size() - extLen);
        }

        if (!failed) {
            std::string target = base + ext;
            bool replacing = false;
            if (exists(target)) {
                // A name this run has written is never replaced by a later entry: it takes the next free name.
                const int32_t policy = takenInRun(target) ? kTargetRename : settings.TargetExistsOpt;
                if (policy == kTargetOverwrite) {
                    if (SameFile(target, source)) {
                        status = kStatusTargetIsSource;
                        return false;
                    }
                    replacing = true;
                } else if (policy == kTargetSkip) {
                    status = kStatusSkipped;
                    return false;
                } else {
                    for (int k = 1;; ++k) {
                        target = base + "_" + std::to_string(k) + ext;
                        if (!exists(target)) break;
                    }
                }
            }
            if (ProbeWritable(target)) {
                item.targetPath = target;
                if (reservations != nullptr) reservations->Reserve(target);
                if (replaces != nullptr) *replaces = replacing;
                return true;
            }
            status = Format("Failed to create file \"%s\"", target);
        }

        if (settings.OutputFiles2MyDocuments == 0 || retried) return false;
        retried = true;
        folder = DocumentsFolder(true);
        if (folder.empty()) return false;
        keepTree = settings.DestOutputFolderOpt == kOutputIntoFolder && settings.CreateDirs != 0;
        mode = kOutputIntoFolder;
    }
}

}  // namespace pelloran
