#pragma once
// The add-files job shared by the window and the CLI: folders scanned, the extension filter, duplicates
// dropped by file identity, every file probed in parallel, cancellable, with progress.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/FileList.h"
#include "decode/CueTracks.h"

namespace pelloran {

// One path handed to the job, and how it is taken.
struct AddPath {
    enum class Kind {
        File,     // taken as it is (Add Files, a file named on the command line)
        Dropped,  // a folder is scanned, a file goes through the filter step (drag and drop)
        Folder,   // scanned whole (Add Folder)
    };
    std::string path;
    Kind kind = Kind::File;
};

// One file found by the job, or one track of an album a CUE sheet cuts (probe.item.cue set; path is then the
// file it reads, and probe.item.tags the track's tags).
struct AddedFile {
    std::string path;
    std::string root;      // the folder named in the request it was found under; "" for a named file
    ProbeOutcome probe;    // probe.ok: the list takes it
    bool probed = false;   // false when Cancel came first
    bool duplicate = false;  // a named file already listed (only with reportDuplicates); never probed
};

struct AddFilesEvents {
    // How many entries the scan found (called once, before probing): a sheet counts its tracks; a sheet found
    // inside a file while probing adds its tracks beyond this count.
    std::function<void(size_t total)> found;
    // A file's probe is done; called in input order, one call at a time, from any thread.
    std::function<void(size_t index, const AddedFile& file)> ready;
    // Asked often; true stops scanning and probing.
    std::function<bool()> cancelled;
    // When set, only the files it accepts are listed: asked once the whole list is known (duplicates dropped,
    // albums formed; an album is asked by its sheet's path) and before anything is probed.
    std::function<bool(const std::string& path)> accept;
    // Every file of the whole list as it will be named (path, kept tree), before accept and before anything is
    // probed: names are settled here. Albums of CUE sheets are left out (their tracks keep their own names).
    std::function<void(std::vector<FileItem>& whole)> listed;
};

struct AddFilesOptions {
    int jobs = 1;                                // files probed at once
    std::optional<ReaderKind> preferredReader;  // --decoder
    ScanOptions scan;                            // how folders are scanned
    bool readTags = false;                       // the sources' tags are wanted (output names from tags)
    bool reportDuplicates = false;               // a named file already listed gets an entry of its own
    bool openReaders = true;                     // false: only the checks that need no open (ProbeFile)
    CueGapMode cueGaps = CueGapMode::Appended;   // where a CUE track's pregap goes: AddFiles takes CueGaps
    // Albums with a CUE sheet (a .cue named or found, a sheet beside a file with its stem, or inside the file
    // when files are opened) give one entry per track, and their files are not listed whole.
    bool cue = true;
    // Each entry gets the tree below the outermost folder named that holds it (FileItem::subFolder); files named
    // one by one, below treeBase (or, when it is empty, below the longest folder all of them share).
    bool keepTree = false;
    std::string treeBase{};
};

// The longest folder (with its trailing '/') that holds every path; "" when they share none.
std::string CommonFolder(const std::vector<std::string>& paths);

// Runs the job. seen holds the files already listed and receives the new ones; a file already in it is
// left out. The result lists every new file in input order.
std::vector<AddedFile> AddFiles(const std::vector<AddPath>& paths, const ConvertSettings& settings, PathIndex& seen,
                                const AddFilesOptions& options, const AddFilesEvents& events);

}  // namespace pelloran
