#include "app/OutputNaming.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"
#include "media/TagRecord.h"
#include "platform/Paths.h"

namespace pelloran {

std::string TargetReservations::Key(const std::string& path) {
    return FoldCase(ResolveFolderPath(FolderPart(path)) + "/" + FileNamePart(path));
}

void TargetReservations::SetSources(const std::vector<std::string>& paths) {
    std::set<FileIdentity> sources;
    for (const std::string& path : paths) {
        if (const auto id = IdentityOf(path)) sources.insert(*id);
    }
    std::lock_guard lock(mutex_);
    sources_ = std::move(sources);
}

bool TargetReservations::IsSource(const std::string& path) const {
    const auto id = IdentityOf(path);
    std::lock_guard lock(mutex_);
    return id && sources_.count(*id) != 0;
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

// Characters that reorder or hide text (bidi controls, zero-width and other format characters): a tag must
// not make a name look like another one, such as "song\u202Eflac.mp3".
bool IsHiddenFormatCharacter(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0xAD || c == 0x61C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xE0000 && c <= 0xE007F);
}

// A tag or file value made safe as one path component: '/' and the characters common file systems
// refuse become '_', control and format characters go, "." and ".." cannot stand alone. Bytes that are not
// UTF-8 (a source named in another encoding) are kept.
std::string SafeComponent(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size();) {
        const size_t start = i;
        const char32_t c = NextCodePoint(value, i);
        const bool invalidByte = c == 0xFFFD && i - start == 1;
        if (!invalidByte && (c < 0x20 || c == 0x7F || IsHiddenFormatCharacter(c))) continue;
        if (c < 0x80 && std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos) {
            out += '_';
            continue;
        }
        out.append(value, start, i - start);
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    while (!out.empty() && out.front() == ' ') out.erase(0, 1);
    return out;
}

std::string FieldValue(const std::string& field, const FileItem& item, int32_t outputFormat) {
    const TagRecord& t = item.tags;
    const std::string name = FileNamePart(item.sourcePath);
    const std::string ext = ExtensionPart(name);
    if (field == "title") return t.Title;
    if (field == "artist") return t.Artist;
    if (field == "album") return t.Album;
    if (field == "year") return t.Year;
    if (field == "genre") return t.Genre;
    if (field == "comment") return t.Comment;
    if (field == "track") return t.Track.empty() ? std::string{} : std::to_string(TrackNumber(t.Track));
    if (field == "composer") return t.Composer;
    if (field == "copyright") return t.Copyright;
    if (field == "stem") return name.substr(0, name.size() - ext.size());
    if (field == "ext") return ext.empty() ? std::string{} : ext.substr(1);
    if (field == "format") {
        const std::string out = OutputExtension(outputFormat);
        return out.empty() ? out : out.substr(1);
    }
    if (field == "parent") {
        const std::string folder = FolderPart(item.sourcePath);
        return FileNamePart(folder.empty() ? folder : folder.substr(0, folder.size() - 1));
    }
    return "\x01";  // unknown field
}

}  // namespace

bool ExpandNamePattern(const std::string& pattern, const FileItem& item, int32_t outputFormat, std::string& name,
                       Note& error) {
    std::string out;
    std::set<size_t> fieldComponents;  // components that hold a field
    for (size_t i = 0; i < pattern.size();) {
        if (pattern[i] != '{') {
            if (pattern[i] == '}') {
                error = MakeNote(NoteCode::PatternStrayClose);
                return false;
            }
            out += pattern[i++];
            continue;
        }
        const size_t close = pattern.find('}', i);
        if (close == std::string::npos) {
            error = MakeNote(NoteCode::PatternUnclosed);
            return false;
        }
        std::string spec = pattern.substr(i + 1, close - i - 1);
        i = close + 1;
        std::string fallback;
        if (const size_t bar = spec.find('|'); bar != std::string::npos) {
            fallback = spec.substr(bar + 1);
            spec.resize(bar);
        }
        int width = 0;
        if (const size_t colon = spec.find(':'); colon != std::string::npos) {
            const std::string digits = spec.substr(colon + 1);
            if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos) {
                error = MakeNote(NoteCode::PatternBadWidth, digits);
                return false;
            }
            width = std::stoi(digits);
            spec.resize(colon);
        }
        std::string value = FieldValue(spec, item, outputFormat);
        if (value == "\x01") {
            error = MakeNote(NoteCode::PatternUnknownField, spec);
            return false;
        }
        if (value.empty()) value = fallback;
        fieldComponents.insert(static_cast<size_t>(std::count(out.begin(), out.end(), '/')));
        if (width > 0 && !value.empty() && value.find_first_not_of("0123456789") == std::string::npos &&
            value.size() < static_cast<size_t>(width))
            value.insert(0, static_cast<size_t>(width) - value.size(), '0');
        out += SafeComponent(value);
    }
    // Each component must stay inside the output folder and be a usable name.
    if (!pattern.empty() && pattern.front() == '/') {
        error = MakeNote(NoteCode::PatternAbsolute);
        return false;
    }
    std::string cleaned;
    for (size_t start = 0, index = 0; start <= out.size(); ++index) {
        const size_t slash = std::min(out.find('/', start), out.size());
        std::string component = out.substr(start, slash - start);
        start = slash + 1;
        // The pattern's own "." or ".." would leave the folder; empty fields around a dot only make a poor name.
        if ((component == "." || component == "..") && fieldComponents.count(index) == 0) {
            error = MakeNote(NoteCode::PatternLeavesFolder);
            return false;
        }
        if (component == "." || component == "..") component = "_";
        if (component.empty()) component.push_back('_');
        if (!cleaned.empty()) cleaned += '/';
        cleaned += component;
        if (slash == out.size()) break;
    }
    // "x.mp3" with MP3 output names x.mp3, not x.mp3.mp3: the output's own extension is added later, once.
    const std::string ext = OutputExtension(outputFormat);
    const size_t lastStart = cleaned.rfind('/') == std::string::npos ? 0 : cleaned.rfind('/') + 1;
    if (!ext.empty() && cleaned.size() > lastStart + ext.size() &&
        ToLowerAscii(cleaned.substr(cleaned.size() - ext.size())) == ToLowerAscii(ext))
        cleaned.resize(cleaned.size() - ext.size());
    name = cleaned;
    return true;
}

namespace {

// The name of an entry without folder or extension: a CUE track's "NN - Title", the pattern's, or the stem.
bool EntryName(const FileItem& item, const ConvertSettings& settings, std::string& name, Note& why) {
    const std::string sourceName = FileNamePart(item.sourcePath);
    const size_t extLen = ExtensionPart(sourceName).size();
    name = sourceName.substr(0, sourceName.size() - std::min(extLen, sourceName.size()));
    // A CUE track is named "NN - Title" (its number alone when it has no title).
    if (item.cue) {
        char number[16];
        std::snprintf(number, sizeof number, "%02d", item.cue->track);
        const std::string title = SafeComponent(item.tags.Title);
        name = title.empty() ? std::string(number) : std::string(number) + " - " + title;
    }
    return settings.OutputNamePattern.empty() ||
           ExpandNamePattern(settings.OutputNamePattern, item, settings.OutputFormat, name, why);
}

// The output folder, the kept tree below it and the name.
std::string BaseIn(const FileItem& item, const std::string& folder, bool keepTree, const std::string& name) {
    std::string base = folder;
    if (base.back() != '/') base += '/';
    if (!item.subFolder.empty()) {
        base += item.subFolder;
    } else if (keepTree) {
        std::string tree = FolderPart(item.sourcePath);
        for (size_t pos; (pos = tree.find("//")) != std::string::npos;) tree.erase(pos, 1);
        while (!tree.empty() && tree.front() == '/') tree.erase(0, 1);
        base += tree;
    }
    return base + name;
}

}  // namespace

std::string SettledNames::SuffixOf(const std::string& sourcePath) const {
    const auto it = suffix_.find(sourcePath);
    return it != suffix_.end() ? it->second : std::string{};
}

bool PlainTarget(const FileItem& item, const ConvertSettings& settings, std::string& target, Note& why) {
    std::string name;
    if (!EntryName(item, settings, name, why)) return false;
    if (settings.DestOutputFolderOpt != kOutputIntoFolder) {
        target = FolderPart(item.sourcePath) + name + OutputExtension(settings.OutputFormat);
        return true;
    }
    if (settings.DestSpecifiedFolder.empty()) {
        why = MakeNote(NoteCode::FolderNotCreated, settings.DestSpecifiedFolder);
        return false;
    }
    target = BaseIn(item, settings.DestSpecifiedFolder, settings.CreateDirs != 0, name) +
             OutputExtension(settings.OutputFormat);
    return true;
}

std::string FoldedTarget(const std::string& target) { return FoldCase(target); }

SettledNames SettleNames(const std::vector<FileItem*>& items, const ConvertSettings& settings,
                         const std::set<std::string>& pinned) {
    // Plain targets, grouped by their folded form; every plain target is taken, so no settled name becomes
    // another source's plain one.
    struct Member {
        const FileItem* item;
        std::string target;
    };
    std::map<std::string, std::vector<Member>> groups;
    std::set<std::string> taken = pinned;
    for (FileItem* item : items) {
        if (item->cue) continue;
        if (!settings.OutputNamePattern.empty() && !item->tagsRead) {
            ReadSourceTags(item->sourcePath, nullptr, item->tags);
            item->tagsRead = true;
        }
        std::string target;
        Note why;
        if (!PlainTarget(*item, settings, target, why)) continue;
        const std::string key = FoldedTarget(target);
        taken.insert(key);
        groups[key].push_back({item, std::move(target)});
    }
    SettledNames settled;
    const std::string outExt = OutputExtension(settings.OutputFormat);
    for (auto& [key, members] : groups) {
        std::sort(members.begin(), members.end(),
                  [](const Member& a, const Member& b) { return a.item->sourcePath < b.item->sourcePath; });
        std::map<std::string, size_t> extCount;
        for (const Member& m : members) ++extCount[ToLowerAscii(ExtensionPart(FileNamePart(m.item->sourcePath)))];
        bool leaderTaken = pinned.count(key) != 0;
        for (const Member& m : members) {
            if (!leaderTaken) {
                leaderTaken = true;
                continue;
            }
            const std::string ext = ToLowerAscii(ExtensionPart(FileNamePart(m.item->sourcePath)));
            const std::string base = m.target.substr(0, m.target.size() - outExt.size());
            const std::string own = ext.size() > 1 && extCount[ext] == 1 ? " (" + ext.substr(1) + ")" : "";
            // Bounded: every turn takes a new number and the taken names are finite.
            for (size_t n = own.empty() ? 1 : 0;; ++n) {
                const std::string suffix = own + (n == 0 ? std::string{} : "_" + std::to_string(n));
                if (taken.insert(FoldedTarget(base + suffix + outExt)).second) {
                    settled.Set(m.item->sourcePath, suffix);
                    break;
                }
            }
        }
    }
    return settled;
}

bool MakeTargetPath(FileItem& item, const ConvertSettings& settings, Note& why,
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
    const bool dryRun = reservations != nullptr && reservations->dryRun();
    const std::string ext = OutputExtension(settings.OutputFormat);
    std::string name;
    if (!EntryName(item, settings, name, why)) return false;
    if (reservations != nullptr && reservations->settled() != nullptr && !item.cue)
        name += reservations->settled()->SuffixOf(source);
    // Makes a folder, or in a dry run accepts one that could be made.
    const auto ensure = [dryRun](const std::string& path) {
        return EnsureFolder(path, !dryRun) || (dryRun && !PathOccupied(path));
    };

    while (true) {
        std::string base;
        bool failed = false;
        if (mode == kOutputIntoFolder) {
            if (folder.empty() || !ensure(folder)) {
                why = MakeNote(NoteCode::FolderNotCreated, folder);
                failed = true;
            } else {
                base = BaseIn(item, folder, keepTree, name);
            }
        } else {
            base = FolderPart(source) + name;
        }
        // The target's own folder: kept trees and patterns with folders.
        if (!failed && !ensure(FolderPart(base))) {
            why = MakeNote(NoteCode::FolderNotCreated, FolderPart(base));
            failed = true;
        }

        if (!failed) {
            std::string target = base + ext;
            bool replacing = false;
            if (exists(target)) {
                // A name this run has written is never replaced by a later entry: it takes the next free name.
                const int32_t policy = takenInRun(target) ? kTargetRename : settings.TargetExistsOpt;
                if (policy == kTargetOverwrite) {
                    if (SameFile(target, source)) {
                        why = MakeNote(NoteCode::TargetIsSource);
                        return false;
                    }
                    // Another source of this run is an existing file that may not be replaced.
                    if (reservations != nullptr && reservations->IsSource(target)) {
                        why = MakeNote(NoteCode::TargetIsRunSource);
                        return false;
                    }
                    replacing = true;
                } else if (policy == kTargetSkip) {
                    why = MakeNote(NoteCode::Skipped);
                    return false;
                } else {
                    for (int k = 1;; ++k) {
                        target = base + "_" + std::to_string(k) + ext;
                        if (!exists(target)) break;
                    }
                }
            }
            if (dryRun || ProbeWritable(target)) {
                item.targetPath = target;
                if (reservations != nullptr) reservations->Reserve(target);
                if (replaces != nullptr) *replaces = replacing;
                return true;
            }
            why = MakeNote(NoteCode::FileNotCreated, target);
        }

        if (settings.OutputFiles2MyDocuments == 0 || retried) return false;
        retried = true;
        folder = DocumentsFolder(true);
        if (folder.empty()) return false;
        keepTree = settings.DestOutputFolderOpt == kOutputIntoFolder && settings.CreateDirs != 0;
        mode = kOutputIntoFolder;
    }
}

bool PrepareTarget(FileItem& item, const ConvertSettings& settings, Note& why,
                   TargetReservations& reservations, bool& replaces) {
    if (EnsureFolder(FolderPart(item.targetPath), true) && ProbeWritable(item.targetPath)) return true;
    reservations.Release(item.targetPath);
    return MakeTargetPath(item, settings, why, &reservations, &replaces);
}

}  // namespace pelloran
