#pragma once
// One entry of the file list.

#include <cstdint>
#include <optional>
#include <string>

#include "media/TagRecord.h"

namespace pelloran {

// One track of an album that a CUE sheet cuts from a file.
struct CueSpan {
    int track = 0;            // track number; 0 for the hidden audio before track 1
    uint64_t firstFrame = 0;  // sample frames of the file, at its own rate
    uint64_t endFrame = 0;    // one past the last frame; 0 = to the file's end
    std::string path;         // the file it reads
    std::string title;        // for display: "03 — Title"
};

struct FileItem {
    std::string sourcePath;
    uint32_t channels = 0;        // source channels (codes other than MP3)
    uint32_t channelMode = 0;     // MPEG channel mode (MP3 only): 0 stereo, 1 joint, 2 dual, 3 mono
    uint32_t sampleRate = 0;      // Hz, 0 unknown
    uint32_t bitrateKbps = 0;     // 0 unknown
    uint32_t durationSeconds = 0; // 0 unknown
    uint16_t formatCode = 0;      // input-format code
    std::string targetPath;       // output of the last successful conversion, else empty
    std::string subFolder;        // kept tree: the source's folder below the folder it was found in ("a/b/")
    TagRecord tags;               // the source's tags, read when the output names come from them
    bool tagsRead = false;        // tags holds what the source has (it may have none)
    std::optional<CueSpan> cue;   // a track of a sheet: tags then hold the track's tags
};

}  // namespace pelloran
