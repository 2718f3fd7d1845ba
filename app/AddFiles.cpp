#include "app/AddFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "decode/CueTracks.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "platform/TagReader.h"

namespace pelloran {

namespace {

// A sheet and the files it reads.
struct Album {
    std::string sheetPath;  // for a sheet inside a file, that file
    CueParse parse;
    std::vector<std::string> audio;  // per FILE line; "" when not found
    bool emitted = false;
};

// What one worker step probes: a file alone, or the album of a sheet; it gives one entry or one per track.
struct Unit {
    AddedFile file;  // the file, or the sheet
    std::shared_ptr<Album> album;
    std::vector<std::string> inserted;  // album files this job added to the list's index
    std::vector<AddedFile> out;
};

std::string KeyOf(const std::string& path) {
    if (const auto id = IdentityOf(path)) return std::to_string(id->device) + ":" + std::to_string(id->inode);
    return path;
}

bool RegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsCuePath(const std::string& path) { return ToLowerAscii(ExtensionPart(path)) == ".cue"; }

// The sheet beside a file with its stem, or "".
std::string SheetBeside(const std::string& path) {
    const std::string ext = ExtensionPart(path);
    if (ext.empty() || IsCuePath(path)) return {};
    const std::string stem = path.substr(0, path.size() - ext.size());
    for (const char* cue : {".cue", ".CUE", ".Cue"}) {
        if (RegularFile(stem + cue)) return stem + cue;
    }
    return {};
}

// The sheets of a folder, in name order.
std::vector<std::string> SheetsIn(const std::string& folder, bool skipHidden) {
    std::vector<std::string> sheets;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (skipHidden && !name.empty() && name[0] == '.') continue;
        if (IsCuePath(name) && RegularFile(it->path().string())) sheets.push_back(it->path().string());
    }
    std::sort(sheets.begin(), sheets.end());
    return sheets;
}

Note CueNote(CueProblem problem, uint64_t number, std::string text = {}) {
    return ValuesNote(NoteCode::CueSheet, {static_cast<uint64_t>(problem), number}, std::move(text));
}

// The entries of one FILE of a sheet, from that file's probe (with its tags and length).
void TrackEntries(const CueSheet& sheet, size_t fileIndex, const std::string& path, const ProbeOutcome& probe,
                  const AddedFile& base, CueGapMode gaps, std::vector<AddedFile>& out) {
    const uint32_t rate = probe.item.sampleRate;
    for (const CueTrackSpan& span : CueSpans(sheet, fileIndex, rate, probe.frames, gaps)) {
        AddedFile entry;
        entry.path = path;
        entry.root = base.root;
        entry.probed = true;
        entry.probe.ok = span.problem == CueProblem::None;
        entry.probe.reader = probe.reader;
        entry.probe.channels = probe.channels;
        entry.probe.channelMode = probe.channelMode;
        FileItem& item = entry.probe.item;
        item = probe.item;
        item.tags = CueTrackTags(sheet, span, probe.item.tags);
        item.tagsRead = true;
        item.cue = CueSpan{span.number, span.first, span.end, path, CueDisplayName(sheet, span)};
        const uint64_t end = span.end != 0 ? span.end : probe.frames;
        if (rate == 0) item.durationSeconds = 0;
        else if (end > span.first) item.durationSeconds = static_cast<uint32_t>((end - span.first) / rate);
        else if (end == 0) item.durationSeconds -= std::min<uint32_t>(item.durationSeconds, span.first / rate);
        else item.durationSeconds = 0;
        if (!entry.probe.ok) entry.probe.note = CueNote(span.problem, static_cast<uint64_t>(span.number));
        out.push_back(std::move(entry));
    }
}

// The entries of a sheet's album: each of its files probed once, then one entry per track.
void AlbumEntries(const Album& album, const AddedFile& base, const AddFilesOptions& options,
                  const std::function<bool()>& cancelled, std::vector<AddedFile>& out) {
    if (!album.parse.ok()) {
        AddedFile entry = base;
        entry.probed = true;
        entry.probe.note = CueNote(album.parse.problem, album.parse.line);
        out.push_back(std::move(entry));
        return;
    }
    const CueSheet& sheet = album.parse.sheet;
    for (size_t f = 0; f < sheet.files.size(); ++f) {
        if (std::none_of(sheet.tracks.begin(), sheet.tracks.end(),
                         [f](const CueTrack& t) { return t.file == f && t.audio; }))
            continue;
        AddedFile entry = base;
        entry.probed = true;
        if (album.audio[f].empty()) {
            entry.probe.note = CueNote(CueProblem::FileNotFound, 0, sheet.files[f].name);
            out.push_back(std::move(entry));
            continue;
        }
        entry.path = album.audio[f];
        entry.probe = ProbeFile(entry.path, options.preferredReader, true, cancelled, true, true);
        if (!entry.probe.ok) {
            out.push_back(std::move(entry));
            continue;
        }
        TrackEntries(sheet, f, entry.path, entry.probe, base, options.cueGaps, out);
    }
}

// The units of the scanned files: sheets and the files they claim become albums, in the place of the first of
// them; every other file stays as it is.
std::vector<Unit> MakeUnits(std::vector<AddedFile>& files, PathIndex& seen, const AddFilesOptions& options) {
    std::vector<Unit> units;
    if (!options.cue) {
        for (AddedFile& file : files) units.push_back(Unit{std::move(file), nullptr, {}, {}});
        return units;
    }
    std::map<std::string, std::shared_ptr<Album>> sheets;     // by the sheet's identity
    std::map<std::string, std::shared_ptr<Album>> claimedBy;  // album files by identity, the first sheet wins
    std::set<std::string> listed;                             // the scanned files by identity
    const auto load = [&](const std::string& sheetPath) {
        std::shared_ptr<Album>& album = sheets[KeyOf(sheetPath)];
        if (album) return album;
        album = std::make_shared<Album>();
        album->sheetPath = sheetPath;
        album->parse = ReadCueSheetFile(sheetPath);
        if (album->parse.ok()) {
            album->audio = ResolveCueFiles(album->parse.sheet, sheetPath);
            for (const std::string& audio : album->audio) {
                if (!audio.empty()) claimedBy.emplace(KeyOf(audio), album);
            }
        }
        return album;
    };
    // The sheets named or scanned, those beside a file with its stem, and those in the folders scanned.
    std::set<std::string> folders;
    for (const AddedFile& file : files) {
        if (file.duplicate) continue;
        listed.insert(KeyOf(file.path));
        if (IsCuePath(file.path)) load(file.path);
        else if (const std::string beside = SheetBeside(file.path); !beside.empty()) load(beside);
        if (!file.root.empty()) folders.insert(FolderPart(file.path));
    }
    for (const std::string& folder : folders) {
        for (const std::string& sheet : SheetsIn(folder, options.scan.skipHidden)) load(sheet);
    }

    const auto emit = [&](const std::shared_ptr<Album>& album, AddedFile base) {
        album->emitted = true;
        Unit unit{std::move(base), album, {}, {}};
        unit.file.path = album->sheetPath;
        // A file of the album listed before this job: the album is there already.
        for (const std::string& audio : album->audio) {
            if (audio.empty() || listed.count(KeyOf(audio)) != 0) continue;
            if (!seen.Insert(audio)) {
                for (const std::string& added : unit.inserted) seen.Erase(added);
                return;
            }
            unit.inserted.push_back(audio);
        }
        units.push_back(std::move(unit));
    };
    for (AddedFile& file : files) {
        if (file.duplicate) {
            units.push_back(Unit{std::move(file), nullptr, {}, {}});
            continue;
        }
        if (IsCuePath(file.path)) {
            const std::shared_ptr<Album>& album = sheets[KeyOf(file.path)];
            if (!album->emitted) emit(album, file);
            else seen.Erase(file.path);  // the album was taken at one of its files
            continue;
        }
        if (const auto claimed = claimedBy.find(KeyOf(file.path)); claimed != claimedBy.end()) {
            if (!claimed->second->emitted) emit(claimed->second, file);
            continue;
        }
        // A sheet beside the file that cannot be read is said once; the file is still listed whole.
        if (const std::string beside = SheetBeside(file.path); !beside.empty()) {
            const std::shared_ptr<Album>& album = sheets[KeyOf(beside)];
            if (!album->parse.ok() && !album->emitted) emit(album, file);
        }
        units.push_back(Unit{std::move(file), nullptr, {}, {}});
    }
    return units;
}

// The kept tree of each unit: the folder of its file below the outermost folder named that holds it; a file
// named one by one, below base (or the folder all named files share).
std::vector<std::string> KeptTrees(const std::vector<Unit>& units, const std::string& base) {
    std::vector<std::string> roots;
    std::vector<std::string> named;
    for (const Unit& unit : units) {
        if (!unit.file.root.empty()) roots.push_back(unit.file.root.back() == '/' ? unit.file.root : unit.file.root + "/");
        else if (!unit.file.duplicate) named.push_back(unit.file.path);
    }
    std::string namedRoot = base.empty() ? CommonFolder(named) : ResolveFolderPath(base);
    if (!namedRoot.empty() && namedRoot.back() != '/') namedRoot += '/';
    std::vector<std::string> trees(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const std::string folder = FolderPart(units[i].file.path);
        if (units[i].file.root.empty()) {
            if (!namedRoot.empty() && folder.rfind(namedRoot, 0) == 0) trees[i] = folder.substr(namedRoot.size());
            continue;
        }
        const std::string* outer = nullptr;
        for (const std::string& root : roots) {
            if (folder.rfind(root, 0) == 0 && (outer == nullptr || root.size() < outer->size())) outer = &root;
        }
        if (outer != nullptr) trees[i] = folder.substr(outer->size());
    }
    return trees;
}

}  // namespace

std::string CommonFolder(const std::vector<std::string>& paths) {
    if (paths.empty()) return {};
    std::string common = FolderPart(paths.front());
    for (const std::string& path : paths) {
        const std::string folder = FolderPart(path);
        size_t same = 0;
        while (same < common.size() && same < folder.size() && common[same] == folder[same]) ++same;
        // Back to the last whole folder both share.
        while (same > 0 && common[same - 1] != '/') --same;
        common.resize(same);
    }
    return common;
}

std::vector<AddedFile> AddFiles(const std::vector<AddPath>& paths, const ConvertSettings& settings, PathIndex& seen,
                                const AddFilesOptions& asked, const AddFilesEvents& events) {
    AddFilesOptions options = asked;
    options.cueGaps = static_cast<CueGapMode>(std::clamp(settings.CueGaps, 0, 2));
    const auto cancelled = [&events] { return events.cancelled && events.cancelled(); };

    // Scan and filter, keeping input order; one file reached twice is listed once.
    std::vector<AddedFile> files;
    for (const AddPath& entry : paths) {
        std::vector<std::string> found;
        std::string root;
        const bool folder = entry.kind != AddPath::Kind::File && IsFolder(entry.path);
        if (cancelled()) {
            // Named files stay listed (as not probed) so that each gets its answer; unscanned folders add nothing.
            if (entry.kind == AddPath::Kind::File && (!events.accept || events.accept(entry.path)))
                files.push_back(AddedFile{entry.path, {}, {}, false});
            continue;
        }
        if (folder) {
            root = ResolveFolderPath(entry.path);
            ScanFolder(found, root, settings, cancelled, options.scan);
        } else {
            std::string path = ResolveSourcePath(entry.path);
            if (entry.kind == AddPath::Kind::File || FilterStep(path, settings)) found.push_back(path);
        }
        for (auto& path : found) {
            if (!seen.Insert(path)) {
                if (options.reportDuplicates && entry.kind == AddPath::Kind::File) {
                    AddedFile file;
                    file.path = std::move(path);
                    file.duplicate = true;
                    files.push_back(std::move(file));
                }
                continue;
            }
            AddedFile file;
            file.path = std::move(path);
            file.root = root;
            files.push_back(std::move(file));
        }
    }
    std::vector<Unit> units = MakeUnits(files, seen, options);
    // Trees, names and parts are decided over the whole list, so that every part agrees with the others.
    std::vector<std::string> trees = options.keepTree ? KeptTrees(units, options.treeBase) : std::vector<std::string>{};
    if (events.listed) {
        std::vector<FileItem> whole;
        for (size_t i = 0; i < units.size(); ++i) {
            if (units[i].album || units[i].file.duplicate) continue;
            FileItem item;
            item.sourcePath = units[i].file.path;
            if (!trees.empty()) item.subFolder = trees[i];
            whole.push_back(std::move(item));
        }
        events.listed(whole);
    }
    if (events.accept) {
        size_t kept = 0;
        for (size_t i = 0; i < units.size(); ++i) {
            if (events.accept(units[i].file.path)) {
                if (kept != i) {
                    if (!trees.empty()) trees[kept] = std::move(trees[i]);
                    units[kept] = std::move(units[i]);
                }
                ++kept;
                continue;
            }
            if (!units[i].file.duplicate) seen.Erase(units[i].file.path);
            for (const std::string& added : units[i].inserted) seen.Erase(added);
        }
        units.resize(kept);
        if (!trees.empty()) trees.resize(kept);
    }
    if (events.found) {
        size_t total = 0;
        for (const Unit& unit : units)
            total += unit.album && unit.album->parse.ok() ? std::max(CueAudioTrackCount(unit.album->parse.sheet), 1) : 1;
        events.found(total);
    }

    // Probe in parallel; hand the results on in input order.
    const bool readCue = options.cue && options.openReaders;
    std::atomic<size_t> next{0};
    std::mutex readyMutex;
    std::vector<bool> done(units.size(), false);
    size_t nextReady = 0, nextIndex = 0;
    const auto worker = [&] {
        for (size_t i; !cancelled() && (i = next.fetch_add(1)) < units.size();) {
            Unit& unit = units[i];
            if (unit.album) {
                AlbumEntries(*unit.album, unit.file, options, cancelled, unit.out);
            } else if (unit.file.duplicate) {
                unit.out.push_back(unit.file);
            } else {
                AddedFile file = unit.file;
                file.probe = ProbeFile(file.path, options.preferredReader, options.readTags, cancelled,
                                       options.openReaders, readCue);
                file.probed = true;
                std::optional<CueSheet> carried = std::move(file.probe.cueSheet);
                file.probe.cueSheet.reset();
                if (file.probe.ok && carried) {
                    // The file's own sheet: its tracks from this one probe; the tags are read once more when
                    // the probe did not read them.
                    ProbeOutcome probe = file.probe;
                    if (!probe.item.tagsRead) {
                        File source;
                        if (source.Open(file.path, "rb")) ReadTagLibTags(source, file.path, probe.item.tags);
                    }
                    TrackEntries(*carried, 0, file.path, probe, file, options.cueGaps, unit.out);
                }
                if (unit.out.empty()) unit.out.push_back(std::move(file));
            }
            std::lock_guard lock(readyMutex);
            done[i] = true;
            for (; nextReady < units.size() && done[nextReady]; ++nextReady) {
                for (const AddedFile& entry : units[nextReady].out) {
                    if (events.ready) events.ready(nextIndex, entry);
                    ++nextIndex;
                }
            }
        }
    };
    const int jobs = std::clamp(options.jobs, 1, 64);
    std::vector<std::thread> threads;
    for (int t = 1; t < jobs && static_cast<size_t>(t) < units.size(); ++t) threads.emplace_back(worker);
    worker();
    for (auto& t : threads) t.join();

    // Files refused or never probed are not listed; an album is listed while one of its tracks is.
    std::vector<AddedFile> result;
    for (Unit& unit : units) {
        if (unit.out.empty()) unit.out.push_back(unit.file);  // never probed
        const bool anyListed = std::any_of(unit.out.begin(), unit.out.end(),
                                           [](const AddedFile& e) { return e.probe.ok || e.duplicate; });
        if (!anyListed) {
            if (!unit.file.duplicate) seen.Erase(unit.file.path);
            for (const std::string& added : unit.inserted) seen.Erase(added);
        }
        const size_t i = static_cast<size_t>(&unit - units.data());
        for (AddedFile& entry : unit.out) {
            if (!trees.empty()) entry.probe.item.subFolder = trees[i];
            result.push_back(std::move(entry));
        }
    }
    return result;
}

}  // namespace pelloran
