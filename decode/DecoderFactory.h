#pragma once
// Picks a reader for a file by its input-format code, with the fallbacks kept as data.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/AudioDecoder.h"
#include "media/Prompt.h"

namespace pelloran {

enum class ReaderKind { Bass, Wav, Aiff, Au, Ffmpeg, FfmpegProbe, Vorbis, Wma };

// Name used by --decoder and in probe reports ("general", "wav", "aiff", "au", "ffmpeg", "vorbis", "wma"; "bass",
// the general reader's earlier name, is still taken).
const char* ReaderName(ReaderKind kind);
std::optional<ReaderKind> ReaderFromName(std::string_view name);
// Every reader name, in the table's order (for --decoder and its help).
// The names shown; with aliases, every name taken.
std::vector<std::string> ReaderNames(bool withAliases = false);


// Per-conversion state the factory reads and fills.
struct DecoderContext {
    // Set when no reader opens a file: which readers refused it and why (or the missing library), then the
    // support line.
    std::string failureNote;
    std::optional<ReaderKind> preferred;      // tried first when set
    std::optional<ReaderKind> openedBy;       // the reader that opened the last file
    UserPrompt* prompt = nullptr;             // null: questions are answered No
    // Cancel (the run's or the adding job's); the readers' long calls ask it. Empty: never.
    std::function<bool()> cancelled;
};

// A new, unopened reader of that kind; null when the reader is not built in.
std::unique_ptr<AudioDecoder> MakeReader(ReaderKind kind);

// Opens path with the first reader that accepts it, or returns null.
std::unique_ptr<AudioDecoder> CreateDecoder(const std::string& path, uint16_t code, int rate,
                                            bool forConversion, DecoderContext& context);

// Support note shown when no reader opens a file.
extern const char* const kUnreadableFileNote;

}  // namespace pelloran
