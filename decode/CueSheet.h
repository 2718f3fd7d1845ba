#pragma once
// CUE sheets: the text form (any of the usual encodings) and the sheets a file carries inside (FLAC's CUESHEET
// block, a CUESHEET comment), parsed into one model. Bounded: a sheet over 1 MiB or 99 tracks is refused.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran {

class File;

// Why a sheet, or a track of it, was refused. Numbers are kept stable: notes carry them.
enum class CueProblem {
    None = 0,
    TooLarge,           // over kMaxCueBytes
    NotText,            // NUL bytes or mostly control bytes
    NoAudioTracks,
    TooManyTracks,      // more than 99 TRACK lines
    BadTrack,           // TRACK without a number 1 to 99
    BadTime,            // not mm:ss:ff with ss < 60, ff < 75, mm <= 99
    IndexOrder,         // INDEX 01 before 00, or a track starting before the one before it
    IndexWithoutTrack,
    TrackWithoutFile,
    MissingIndex01,
    Unreadable,         // the sheet's file could not be read
    FileNotFound,       // no audio file for a FILE line, in the sheet's folder
    TrackPastEnd,       // the track starts past its file's end
    TrackEmpty,         // the track holds no audio
};

inline constexpr size_t kMaxCueBytes = 1u << 20;
inline constexpr int kMaxCueTracks = 99;
inline constexpr uint32_t kCueFramesPerSecond = 75;

// Text fields by upper-case name: TITLE, PERFORMER, SONGWRITER, ISRC, CATALOG, FLAGS and the REM fields kept
// (GENRE, DATE, DISCID, COMMENT, DISCNUMBER, TOTALDISCS, REPLAYGAIN_*).
using CueFields = std::map<std::string, std::string>;

struct CueTrack {
    int number = 0;
    size_t file = 0;     // index into CueSheet::files
    bool audio = true;   // other modes are kept for their positions and never listed
    // Positions in the sheet's unit (CD frames, or samples for a FLAC CUESHEET block).
    std::optional<uint64_t> index00;
    std::optional<uint64_t> index01;
    uint64_t pregap = 0;   // CD frames; recorded only, they add no samples
    uint64_t postgap = 0;
    CueFields fields;
    size_t line = 0;       // line of the TRACK command
};

struct CueSheet {
    struct FileEntry {
        std::string name;  // as the sheet names it
        std::string type;  // WAVE, BINARY, MP3, ...
    };
    std::vector<FileEntry> files;
    CueFields fields;               // album level: before the first TRACK
    std::vector<CueTrack> tracks;   // in sheet order
    bool sampleOffsets = false;     // positions are samples (a FLAC CUESHEET block), not CD frames
};

struct CueParse {
    CueProblem problem = CueProblem::None;
    size_t line = 0;   // 1-based line of the problem, 0 when it concerns the whole sheet
    CueSheet sheet;

    bool ok() const { return problem == CueProblem::None; }
};

// The sheet's bytes as UTF-8: a BOM (UTF-8, UTF-16 LE/BE) decides, else valid UTF-8 is kept and anything
// else is read as Windows-1252. Nothing when the bytes are no text.
std::optional<std::string> CueTextToUtf8(std::string_view bytes);

// Parses a sheet from its bytes (any size; over kMaxCueBytes is refused before any work).
CueParse ParseCueSheet(std::string_view bytes);

// Reads and parses a sheet file, never reading more than kMaxCueBytes + 1 bytes.
CueParse ReadCueSheetFile(const std::string& path);

// What a file carries: its exact length in frames where the header gives it (FLAC, WAV), and its own sheet
// (a FLAC CUESHEET block, with the titles of a CUESHEET comment when both are there, or a CUESHEET comment in
// FLAC, Ogg, APE or WavPack tags).
struct EmbeddedCue {
    uint64_t frames = 0;   // 0 when unknown
    uint32_t rate = 0;     // from the FLAC header, 0 when unknown
    std::optional<CueSheet> sheet;
};
// True for the kinds of files ReadEmbeddedCue looks into (by extension).
bool CueCarrier(const std::string& name);
// Reads it at the open file's own offsets (name gives the format by its extension).
EmbeddedCue ReadEmbeddedCue(const File& file, const std::string& name);

}  // namespace pelloran
