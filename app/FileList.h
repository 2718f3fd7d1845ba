#pragma once
// The engine side of the file list: probing a file into an entry, folder scans with the extension filter,
// and the duplicate check.

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/FileItem.h"
#include "app/RunStatus.h"
#include "decode/CueSheet.h"
#include "decode/DecoderFactory.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// What probing one file found.
struct ProbeOutcome {
    bool ok = false;
    FileItem item;
    Note note;                            // why the file was refused (may be empty)
    std::optional<ReaderKind> reader;     // the reader that opened it
    int channels = 0;                     // source channels, also for MP3
    int channelMode = 4;
    bool notRegular = false;              // a FIFO, device, socket or folder: never opened
    uint64_t frames = 0;                  // with readCue: the exact length in frames where the header gives it
    std::optional<CueSheet> cueSheet;     // with readCue: the sheet the file carries
};

// Opens path with a reader in probe mode and fills the entry as the list shows it.
// With readTags, the source's tags go into the entry too; cancelled (when given) stops a long open. Without
// openReader only what needs no open is checked (a regular, readable, non-empty file): the conversion's own
// open then says whether a reader takes it, so a source is opened once. With readCue (and openReader) the
// file's exact length and the CUE sheet it carries are read through the reader's open file.
ProbeOutcome ProbeFile(const std::string& path, std::optional<ReaderKind> preferred = std::nullopt,
                       bool readTags = false, const std::function<bool()>& cancelled = {}, bool openReader = true,
                       bool readCue = false);
// Why no reader opened path (input-format code), from the readers' refusal note.
Note RefusalNote(const std::string& path, uint16_t code, const std::string& failureNote);

// Paths already in the list, compared by file identity (device and inode after following links); a path
// that reaches no file is compared as its canonical path.
class PathIndex {
public:
    // False when the path is already present; otherwise records it.
    bool Insert(const std::string& path);
    void Erase(const std::string& path);
    void Clear() {
        keys_.clear();
        byPath_.clear();
    }
    bool Contains(const std::string& path) const;
    size_t size() const { return keys_.size(); }

private:
    static std::string Key(const std::string& path);
    std::set<std::string> keys_;
    std::map<std::string, std::string> byPath_;  // path as inserted -> its key
};

// The kinds of files the readers take, for the open dialog and for folder scans: a name and the
// extensions, lower case without the dot, separated by blanks.
struct SourceFileKind {
    const char* name;
    const char* extensions;
};
extern const SourceFileKind kSourceFileKinds[];
extern const size_t kSourceFileKindCount;
// True when a reader knows the path's extension (any letter case).
bool IsKnownSourceExtension(const std::string& path);

// Asked often during a folder scan; true stops it.
using ScanCancel = std::function<bool()>;
struct ScanOptions {
    bool knownOnly = false;   // only files whose extension a reader knows
    bool skipHidden = false;  // no files or folders whose names start with '.'
    // A folder never descended into: the run's output folder, so that a re-run never takes its own outputs.
    std::string excludeFolder;
};
// Every file below folder (subfolders included, links followed with cycles cut), through the filter step.
void ScanFolder(std::vector<std::string>& out, const std::string& folder, const ConvertSettings& settings,
                const ScanCancel& cancelled = {}, const ScanOptions& options = {});
// The filter step of dropped and scanned files: true when path is taken (path may be replaced by a link's target).
bool FilterStep(std::string& path, const ConvertSettings& settings);

}  // namespace pelloran
