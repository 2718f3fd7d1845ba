#include "decode/CueSheet.h"

#include <FLAC/metadata.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "decode/WavChunks.h"
#include "media/TagRecord.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "platform/TagReader.h"

namespace pelloran {

namespace {

// Windows-1252 at 0x80..0x9F; 0 where the code page has no character.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    const auto unit = [&](size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t u = unit(i);
        char32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            const char16_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                cp = 0xFFFD;
            }
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

// True when the text is a file of some other kind: NUL, or more than one byte in twenty a control character.
bool LooksBinary(std::string_view text) {
    size_t controls = 0;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0) return true;
        if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F) ++controls;
    }
    return controls * 20 > text.size();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The next blank-separated word of s; s keeps what follows it.
std::string_view NextWord(std::string_view& s) {
    s = Trim(s);
    size_t end = 0;
    while (end < s.size() && !IsBlank(s[end])) ++end;
    const std::string_view word = s.substr(0, end);
    s.remove_prefix(end);
    return word;
}

// A quoted value up to its closing quote (or the line's end), else the rest of the line.
std::string Value(std::string_view s) {
    s = Trim(s);
    if (!s.empty() && s.front() == '"') {
        s.remove_prefix(1);
        return std::string(s.substr(0, s.find('"')));
    }
    return std::string(s);
}

// Digits only, at most maxDigits of them.
std::optional<uint32_t> Number(std::string_view s, size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    uint32_t v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
}

// mm:ss:ff in CD frames.
std::optional<uint64_t> Time(std::string_view s) {
    const size_t a = s.find(':');
    const size_t b = a == std::string_view::npos ? a : s.find(':', a + 1);
    if (b == std::string_view::npos) return std::nullopt;
    const auto mm = Number(s.substr(0, a), 3), ss = Number(s.substr(a + 1, b - a - 1), 2),
               ff = Number(s.substr(b + 1), 2);
    if (!mm || !ss || !ff || *mm > 99 || *ss >= 60 || *ff >= kCueFramesPerSecond) return std::nullopt;
    return (static_cast<uint64_t>(*mm) * 60 + *ss) * kCueFramesPerSecond + *ff;
}

bool KeptRemField(const std::string& key) {
    for (const char* name : {"GENRE", "DATE", "DISCID", "COMMENT", "DISCNUMBER", "TOTALDISCS"}) {
        if (key == name) return true;
    }
    return key.rfind("REPLAYGAIN_", 0) == 0;
}

class Parser {
public:
    CueParse Run(std::string_view text) {
        size_t at = 0;
        while (at < text.size() && result_.ok()) {
            size_t end = at;
            while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
            ++line_;
            Command(text.substr(at, end - at));
            at = end;
            if (at < text.size() && text[at] == '\r') ++at;
            if (at < text.size() && text[at] == '\n') ++at;  // LF, or the LF of CRLF
        }
        if (!result_.ok()) return Fail(result_.problem, result_.line);  // no half sheet
        if (!sheet().tracks.empty() && !sheet().tracks.back().index01)
            return Fail(CueProblem::MissingIndex01, sheet().tracks.back().line);
        const bool anyAudio = std::any_of(sheet().tracks.begin(), sheet().tracks.end(),
                                          [](const CueTrack& t) { return t.audio; });
        if (!anyAudio) return Fail(CueProblem::NoAudioTracks, 0);
        return std::move(result_);
    }

private:
    CueSheet& sheet() { return result_.sheet; }

    CueParse Fail(CueProblem problem, size_t line) {
        CueParse failed;
        failed.problem = problem;
        failed.line = line;
        return failed;
    }
    void Stop(CueProblem problem) {
        result_.problem = problem;
        result_.line = line_;
    }
    CueFields& Fields() { return sheet().tracks.empty() ? sheet().fields : sheet().tracks.back().fields; }

    void Command(std::string_view s) {
        const std::string keyword = ToUpperAscii(NextWord(s));
        if (keyword == "FILE") return FileCommand(s);
        if (keyword == "TRACK") return TrackCommand(s);
        if (keyword == "INDEX") return IndexCommand(s);
        if (keyword == "PREGAP" || keyword == "POSTGAP") {
            if (sheet().tracks.empty()) return Stop(CueProblem::IndexWithoutTrack);
            const auto t = Time(NextWord(s));
            if (!t) return Stop(CueProblem::BadTime);
            (keyword == "PREGAP" ? sheet().tracks.back().pregap : sheet().tracks.back().postgap) = *t;
            return;
        }
        if (keyword == "CATALOG") {
            sheet().fields["CATALOG"] = Value(s);
            return;
        }
        for (const char* name : {"TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FLAGS"}) {
            if (keyword == name) {
                Fields()[keyword] = Value(s);
                return;
            }
        }
        if (keyword == "REM") {
            const std::string key = ToUpperAscii(NextWord(s));
            if (KeptRemField(key)) Fields()[key] = Value(s);
        }
        // Anything else (CDTEXTFILE, SONGWRITER of other tools, comments) is ignored.
    }

    void FileCommand(std::string_view s) {
        s = Trim(s);
        CueSheet::FileEntry entry;
        if (!s.empty() && s.front() == '"') {
            const size_t close = s.find('"', 1);
            entry.name = std::string(s.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            if (close != std::string_view::npos) {
                s.remove_prefix(close + 1);
                entry.type = ToUpperAscii(NextWord(s));
            }
        } else {
            // Unquoted: the last word is the type when there are two or more.
            const size_t blank = s.find_last_of(" \t");
            if (blank == std::string_view::npos) {
                entry.name = std::string(s);
            } else {
                entry.name = std::string(Trim(s.substr(0, blank)));
                entry.type = ToUpperAscii(s.substr(blank + 1));
            }
        }
        sheet().files.push_back(std::move(entry));
    }

    void TrackCommand(std::string_view s) {
        if (sheet().files.empty()) return Stop(CueProblem::TrackWithoutFile);
        if (sheet().tracks.size() >= static_cast<size_t>(kMaxCueTracks)) return Stop(CueProblem::TooManyTracks);
        if (!sheet().tracks.empty() && !sheet().tracks.back().index01) {
            result_.problem = CueProblem::MissingIndex01;
            result_.line = sheet().tracks.back().line;
            return;
        }
        const auto number = Number(NextWord(s), 3);
        if (!number || *number < 1 || *number > static_cast<uint32_t>(kMaxCueTracks)) return Stop(CueProblem::BadTrack);
        CueTrack track;
        track.number = static_cast<int>(*number);
        track.file = sheet().files.size() - 1;
        track.audio = EqualsIgnoreCase(NextWord(s), "AUDIO");
        track.line = line_;
        sheet().tracks.push_back(std::move(track));
    }

    void IndexCommand(std::string_view s) {
        if (sheet().tracks.empty()) return Stop(CueProblem::IndexWithoutTrack);
        const auto number = Number(NextWord(s), 2);
        const auto time = Time(NextWord(s));
        if (!number || !time) return Stop(CueProblem::BadTime);
        CueTrack& track = sheet().tracks.back();
        const size_t file = sheet().files.size() - 1;
        // No index of a track before the previous track's INDEX 01 in the same file.
        if (*number <= 1 && sheet().tracks.size() > 1) {
            const CueTrack& previous = sheet().tracks[sheet().tracks.size() - 2];
            if (previous.file == file && previous.index01 && *time < *previous.index01)
                return Stop(CueProblem::IndexOrder);
        }
        if (*number == 0) {
            if (track.index01 || track.index00) return Stop(CueProblem::IndexOrder);
            track.index00 = *time;
            index00File_ = file;
        } else if (*number == 1) {
            if (track.index01) return Stop(CueProblem::IndexOrder);
            if (track.index00 && index00File_ == file && *time < *track.index00) return Stop(CueProblem::IndexOrder);
            // A pregap at the end of the file before (one file per track) stays with that file's last track.
            if (track.index00 && index00File_ != file) track.index00.reset();
            track.index01 = *time;
            track.file = file;
        }
    }

    CueParse result_;
    size_t line_ = 0;
    size_t index00File_ = 0;
};

}  // namespace

std::optional<std::string> CueTextToUtf8(std::string_view bytes) {
    std::string text;
    if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
        text = Utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE');
    } else {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        if (IsValidUtf8(bytes)) {
            text = std::string(bytes);
        } else {
            text.reserve(bytes.size() * 2);
            for (const char c : bytes) {
                const auto b = static_cast<unsigned char>(c);
                const char16_t high = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : 0;
                AppendUtf8(text, b < 0x80 || b >= 0xA0 ? char32_t{b} : high != 0 ? char32_t{high} : U'\uFFFD');
            }
        }
    }
    if (LooksBinary(text)) return std::nullopt;
    return text;
}

CueParse ParseCueSheet(std::string_view bytes) {
    CueParse refused;
    if (bytes.size() > kMaxCueBytes) {
        refused.problem = CueProblem::TooLarge;
        return refused;
    }
    const std::optional<std::string> text = CueTextToUtf8(bytes);
    if (!text) {
        refused.problem = CueProblem::NotText;
        return refused;
    }
    return Parser().Run(*text);
}

CueParse ReadCueSheetFile(const std::string& path) {
    CueParse refused;
    File file;
    if (!file.Open(path, "rb")) {
        refused.problem = CueProblem::Unreadable;
        return refused;
    }
    std::string bytes(kMaxCueBytes + 1, '\0');
    const int64_t got = file.ReadAt(0, bytes.data(), bytes.size());
    if (got < 0) {
        refused.problem = CueProblem::Unreadable;
        return refused;
    }
    bytes.resize(static_cast<size_t>(got));
    return ParseCueSheet(bytes);
}

namespace {

// libFLAC's metadata chain over an open File, read at the File's own offsets.
struct ChainInput {
    const File* file;
    int64_t at = 0;
};

size_t ChainRead(void* ptr, size_t size, size_t count, FLAC__IOHandle handle) {
    auto& in = *static_cast<ChainInput*>(handle);
    if (size == 0 || count > SIZE_MAX / size) return 0;
    const int64_t got = in.file->ReadAt(in.at, ptr, size * count);
    if (got <= 0) return 0;
    in.at += got;
    return static_cast<size_t>(got) / size;
}

int ChainSeek(FLAC__IOHandle handle, FLAC__int64 offset, int whence) {
    auto& in = *static_cast<ChainInput*>(handle);
    int64_t base = 0;
    if (whence == SEEK_CUR) base = in.at;
    else if (whence == SEEK_END) base = in.file->Size();
    if (base < 0 || (offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return -1;
    in.at = base + offset;
    return 0;
}

FLAC__int64 ChainTell(FLAC__IOHandle handle) { return static_cast<ChainInput*>(handle)->at; }

int ChainEof(FLAC__IOHandle handle) {
    auto& in = *static_cast<ChainInput*>(handle);
    return in.at >= in.file->Size() ? 1 : 0;
}

struct ChainFree {
    void operator()(FLAC__Metadata_Chain* chain) const { FLAC__metadata_chain_delete(chain); }
};
struct IteratorFree {
    void operator()(FLAC__Metadata_Iterator* iterator) const { FLAC__metadata_iterator_delete(iterator); }
};

std::string FixedText(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

// A FLAC CUESHEET block as a sheet in samples of the file holding it; nothing without an audio track.
std::optional<CueSheet> SheetOfBlock(const FLAC__StreamMetadata_CueSheet& block) {
    CueSheet sheet;
    sheet.sampleOffsets = true;
    sheet.files.push_back({"", "FLAC"});
    const std::string catalog = FixedText(block.media_catalog_number, sizeof block.media_catalog_number - 1);
    if (!catalog.empty()) sheet.fields["CATALOG"] = catalog;
    for (uint32_t i = 0; i < block.num_tracks && sheet.tracks.size() < static_cast<size_t>(kMaxCueTracks); ++i) {
        const FLAC__StreamMetadata_CueSheet_Track& t = block.tracks[i];
        if (t.number < 1 || t.number > kMaxCueTracks) continue;  // the lead-out
        CueTrack track;
        track.number = t.number;
        track.audio = t.type == 0;
        for (uint32_t k = 0; k < t.num_indices; ++k) {
            const FLAC__StreamMetadata_CueSheet_Index& index = t.indices[k];
            if (index.offset > UINT64_MAX - t.offset) continue;
            if (index.number == 0) track.index00 = t.offset + index.offset;
            if (index.number == 1) track.index01 = t.offset + index.offset;
        }
        if (!track.index01) continue;
        const std::string isrc = FixedText(t.isrc, sizeof t.isrc - 1);
        if (!isrc.empty()) track.fields["ISRC"] = isrc;
        sheet.tracks.push_back(std::move(track));
    }
    if (std::none_of(sheet.tracks.begin(), sheet.tracks.end(), [](const CueTrack& t) { return t.audio; }))
        return std::nullopt;
    return sheet;
}

// The sheet of a CUESHEET comment, when it parses.
std::optional<CueSheet> SheetOfText(std::string_view text) {
    CueParse parse = ParseCueSheet(text);
    if (!parse.ok()) return std::nullopt;
    return std::move(parse.sheet);
}

// The block's positions with the comment's words: album fields, and each track's by its number.
void AddWords(CueSheet& block, const CueSheet& text) {
    for (const auto& [key, value] : text.fields) block.fields.emplace(key, value);
    for (CueTrack& track : block.tracks) {
        for (const CueTrack& named : text.tracks) {
            if (named.number != track.number) continue;
            for (const auto& [key, value] : named.fields) track.fields.emplace(key, value);
            break;
        }
    }
}

void ReadFlac(const File& file, EmbeddedCue& out) {
    std::unique_ptr<FLAC__Metadata_Chain, ChainFree> chain(FLAC__metadata_chain_new());
    std::unique_ptr<FLAC__Metadata_Iterator, IteratorFree> iterator(FLAC__metadata_iterator_new());
    if (!chain || !iterator) return;
    ChainInput input{&file};
    const FLAC__IOCallbacks callbacks{ChainRead, nullptr, ChainSeek, ChainTell, ChainEof, nullptr};
    if (!FLAC__metadata_chain_read_with_callbacks(chain.get(), &input, callbacks)) return;
    FLAC__metadata_iterator_init(iterator.get(), chain.get());
    std::optional<CueSheet> fromBlock, fromText;
    do {
        const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
        if (block == nullptr) continue;
        if (block->type == FLAC__METADATA_TYPE_STREAMINFO) {
            out.frames = block->data.stream_info.total_samples;
            out.rate = block->data.stream_info.sample_rate;
        } else if (block->type == FLAC__METADATA_TYPE_CUESHEET && !fromBlock) {
            fromBlock = SheetOfBlock(block->data.cue_sheet);
        } else if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && !fromText) {
            const FLAC__StreamMetadata_VorbisComment& comments = block->data.vorbis_comment;
            for (uint32_t i = 0; i < comments.num_comments && !fromText; ++i) {
                const std::string_view entry(reinterpret_cast<const char*>(comments.comments[i].entry),
                                             comments.comments[i].length);
                const size_t equals = entry.find('=');
                if (equals != std::string_view::npos && EqualsIgnoreCase(entry.substr(0, equals), "CUESHEET"))
                    fromText = SheetOfText(entry.substr(equals + 1));
            }
        }
    } while (FLAC__metadata_iterator_next(iterator.get()));
    if (fromBlock && fromText) AddWords(*fromBlock, *fromText);
    out.sheet = fromBlock ? std::move(fromBlock) : std::move(fromText);
}

// Frames of a PCM WAV file's data chunk (the part the file holds).
void ReadWav(const File& file, EmbeddedCue& out) {
    std::optional<WavChunks> chunks = WavChunks::Start(file, ChunkStep::Even);
    if (!chunks) return;
    uint16_t blockAlign = 0;
    for (int i = 0; i < 4096; ++i) {
        const std::optional<WavChunk> chunk = chunks->Next();
        if (!chunk) return;
        if (chunk->Is("fmt ")) {
            uint8_t field[2];
            if (chunk->size >= 16 && file.ReadExactAt(static_cast<int64_t>(chunk->body + 12), field, 2))
                blockAlign = LoadU16LE(field);
        } else if (chunk->Is("data")) {
            if (blockAlign == 0 || chunk->body > chunks->FileSize()) return;
            out.frames = std::min(chunk->size, chunks->FileSize() - chunk->body) / blockAlign;
            return;
        }
    }
}

}  // namespace

bool CueCarrier(const std::string& name) {
    const std::string ext = ToLowerAscii(ExtensionPart(name));
    for (const char* known : {".flac", ".fla", ".wav", ".wave", ".ogg", ".oga", ".opus", ".ape", ".wv", ".tta"}) {
        if (ext == known) return true;
    }
    return false;
}

EmbeddedCue ReadEmbeddedCue(const File& file, const std::string& name) {
    EmbeddedCue out;
    const std::string ext = ToLowerAscii(ExtensionPart(name));
    if (ext == ".flac" || ext == ".fla") {
        ReadFlac(file, out);
    } else if (ext == ".wav" || ext == ".wave") {
        ReadWav(file, out);
    } else if (CueCarrier(name)) {
        TagRecord tags;
        if (ReadTagLibTags(file, name, tags)) {
            const auto it = tags.extra.find("CUESHEET");
            if (it != tags.extra.end() && !it->second.empty()) out.sheet = SheetOfText(it->second.front());
        }
    }
    return out;
}

}  // namespace pelloran
