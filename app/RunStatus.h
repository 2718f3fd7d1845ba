#pragma once
// How entries of the list and of a run end, as codes with their data. The engine never words them:
// frontend/Wording does, for the window and the CLI alike.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pelloran {

// Why an entry was not loaded or not converted, or what to know about one that was. A new code needs its
// words in NoteText (frontend/Wording.cpp); the compiler names a code left out.
enum class NoteCode {
    None,
    ReaderNote,         // text: the words of a reader, writer or the conversion loop, shown as they are
    ConversionFailed,   // the conversion failed and nothing more precise is known
    SystemError,        // number: errno of opening or stating the source
    NotRegularFile,     // a FIFO, device, socket or folder: never opened
    DatFile,            // Video CD tracks belong to the video converter
    CdaFromDisk,        // a CD track copied to disk
    FlashFile,          // SWF and FLV belong to the video converter
    Duplicate,          // a named file already listed earlier
    NeedsSoundFont,     // MIDI without the SoundFont
    Skipped,            // the target exists and the policy says skip
    TargetIsSource,     // overwrite would replace the source itself
    TargetIsRunSource,  // overwrite would replace another source of the run
    FolderNotCreated,   // text: the folder
    FileNotCreated,     // text: the target
    NoWorkFile,         // number: errno, 0 when every work file stayed locked
    EmptyOutput,
    VerifyFailed,       // values: VerifyProblem, then its numbers (see app/Verify.h)
    NoAudioDecoded,     // the header promised audio and not one frame came
    SourceHoldsNoAudio, // the format cannot hold an empty stream
    WriterSystem,       // number: errno of the writer's file
    RateTooHigh,        // text: the format's name; values: the highest rate it holds
    RateBrought,        // converted at another rate; text: the format's name; values: the source's rate, the output's
    TagsTooLarge,       // text: the format's name; values: the most bytes its tag block holds
    Truncated,          // converted, but the source ends before its header said
    LargePicture,       // converted, without a picture over 16 MiB
    GainTagsNotWritten, // converted, without its gain tags; text: the file they could not go into
    PatternStrayClose,     // '}' without '{'
    PatternUnclosed,       // '{' without '}'
    PatternBadWidth,       // text: the width as written
    PatternUnknownField,   // text: the field
    PatternAbsolute,       // the pattern starts with '/'
    PatternLeavesFolder,   // "." or ".." of the pattern itself
    CueSheet,              // values: CueProblem (decode/CueSheet.h), then the sheet's line or the track number;
                           // text: the name a FILE line gives (FileNotFound)
};

struct Note {
    NoteCode code = NoteCode::None;
    std::string text;  // a path, a name or words carried as they are (see the code)
    int number = 0;    // an errno
    std::vector<uint64_t> values{};  // numbers of the code (see the code)

    bool empty() const { return code == NoteCode::None; }
    bool operator==(const Note&) const = default;
};

// A note with only a code, or a code with its text or number.
inline Note MakeNote(NoteCode code, std::string text = {}, int number = 0) {
    return Note{code, std::move(text), number};
}
// A code with its numbers.
inline Note ValuesNote(NoteCode code, std::vector<uint64_t> values, std::string text = {}) {
    return Note{code, std::move(text), 0, std::move(values)};
}
// Words from a reader or the conversion loop; none when they are empty.
inline Note ReaderNote(std::string text) {
    return text.empty() ? Note{} : Note{NoteCode::ReaderNote, std::move(text), 0};
}

// The Status column of an entry.
enum class EntryState {
    Converting,
    Converted,     // target: the output (with a dry run, the name it would get)
    Failed,        // note: why, when known
    NotConverted,  // note: why (skipped, no target, no SoundFont, not a regular file...)
    Cancelled,
    NotLoaded,     // the list refused the file
};

struct EntryStatus {
    EntryState state = EntryState::NotConverted;
    Note note;
    std::string target;
};

}  // namespace pelloran
