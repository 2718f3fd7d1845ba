// libFuzzer entry point: the CUE sheet parser and the track spans made from what it accepts; input that
// starts like a FLAC file also goes through the reading of a sheet a FLAC file carries. What the parser keeps
// must hold its promises: valid UTF-8, at most 99 tracks with INDEX 01 each, files for every track, and spans
// that never end before they start.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "decode/CueTracks.h"
#include "platform/File.h"
#include "tests/fuzz/FuzzReader.h"

namespace {

using namespace pelloran;

void CheckSpans(const CueSheet& sheet) {
    for (size_t f = 0; f < sheet.files.size(); ++f) {
        for (const uint64_t frames : {uint64_t{0}, uint64_t{44100} * 90}) {
            for (const CueGapMode mode : {CueGapMode::Appended, CueGapMode::Prepended, CueGapMode::LeftOut}) {
                for (const CueTrackSpan& span : CueSpans(sheet, f, 44100, frames, mode)) {
                    if (span.problem == CueProblem::None && span.end != 0 && span.end <= span.first) std::abort();
                    if (frames != 0 && span.end > frames) std::abort();
                    if (span.number < 0 || span.number > kMaxCueTracks) std::abort();
                    const TagRecord tags = CueTrackTags(sheet, span, TagRecord{});
                    if (!IsValidUtf8(tags.Title) || !IsValidUtf8(CueDisplayName(sheet, span))) std::abort();
                }
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto text = CueTextToUtf8(bytes)) {
        // A byte of input gives at most three of UTF-8 (Windows-1252 and UTF-16 alike).
        if (!IsValidUtf8(*text) || text->size() > 3 * size) std::abort();
    }
    const CueParse parse = ParseCueSheet(bytes);
    const CueSheet& sheet = parse.sheet;
    if (!parse.ok()) {
        if (!sheet.tracks.empty() || !sheet.files.empty()) std::abort();
    } else {
        if (sheet.tracks.empty() || sheet.tracks.size() > static_cast<size_t>(kMaxCueTracks)) std::abort();
        if (CueAudioTrackCount(sheet) == 0) std::abort();
        for (const CueTrack& track : sheet.tracks) {
            if (track.file >= sheet.files.size() || !track.index01) std::abort();
            if (track.index00 && *track.index00 > *track.index01) std::abort();
            for (const auto& [key, value] : track.fields) {
                if (!IsValidUtf8(value)) std::abort();
            }
        }
        for (const auto& entry : sheet.files) {
            if (!IsValidUtf8(entry.name)) std::abort();
        }
        CheckSpans(sheet);
    }
    if (bytes.substr(0, 4) == "fLaC") {
        pelloran::fuzz::MemoryFile memory(data, size);
        File file;
        if (memory.Ok() && file.Open(memory.Path(), "rb")) {
            const EmbeddedCue embedded = ReadEmbeddedCue(file, "album.flac");
            if (embedded.sheet) {
                if (embedded.sheet->tracks.size() > static_cast<size_t>(kMaxCueTracks)) std::abort();
                CheckSpans(*embedded.sheet);
            }
        }
    }
    return 0;
}
