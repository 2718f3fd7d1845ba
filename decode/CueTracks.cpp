#include "decode/CueTracks.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "decode/AudioDecoder.h"
#include "platform/Paths.h"

namespace pelloran {

namespace {

// Entries of a folder looked at when a sheet's file is not found by its name: enough for any album folder.
constexpr size_t kMaxFolderEntries = 10000;

bool RegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string StemOf(const std::string& name) {
    const std::string ext = ExtensionPart(name);
    return name.substr(0, name.size() - ext.size());
}

// Rank of an audio extension for a file found by its stem; none for files that are no album's audio.
std::optional<int> AudioRank(const std::string& name) {
    const std::string ext = ToLowerAscii(ExtensionPart(name));
    const char* const preferred[] = {".flac", ".wv", ".ape", ".wav"};
    for (int i = 0; i < 4; ++i) {
        if (ext == preferred[i]) return i;
    }
    const uint16_t code = InputFormatFromPath(ext);
    if (code == kInputOther || code == kInputModule || code == kInputMidi || code == kInputCda) return std::nullopt;
    return 4;
}

// The file a sheet names, among the names of its folder.
std::string FindInFolder(const std::string& folder, const std::string& named, const std::vector<std::string>& names) {
    // Only the base name counts, with either separator.
    std::string base = named;
    std::replace(base.begin(), base.end(), '\\', '/');
    base = FileNamePart(base);
    if (base.empty() || base == "." || base == "..") return {};
    if (RegularFile(folder + base)) return folder + base;
    for (const std::string& name : names) {
        if (EqualsIgnoreCase(name, base) && RegularFile(folder + name)) return folder + name;
    }
    const std::string stem = StemOf(base);
    std::string best;
    int bestRank = 5;
    for (const std::string& name : names) {
        if (!EqualsIgnoreCase(StemOf(name), stem)) continue;
        const std::optional<int> rank = AudioRank(name);
        if (rank && *rank < bestRank && RegularFile(folder + name)) {
            best = folder + name;
            bestRank = *rank;
        }
    }
    return best;
}

std::string Field(const CueFields& fields, const char* key) {
    const auto it = fields.find(key);
    return it != fields.end() ? it->second : std::string{};
}

}  // namespace

std::vector<std::string> ResolveCueFiles(const CueSheet& sheet, const std::string& sheetPath) {
    std::vector<std::string> found(sheet.files.size());
    if (sheet.sampleOffsets) {
        std::fill(found.begin(), found.end(), sheetPath);
        return found;
    }
    const std::string folder = FolderPart(sheetPath).empty() ? "./" : FolderPart(sheetPath);
    std::vector<std::string> names;
    bool listed = false;
    for (size_t i = 0; i < sheet.files.size(); ++i) {
        const std::string& named = sheet.files[i].name;
        if (!listed) {
            // The folder is listed once, and only when a name is not there as it is.
            std::string base = named;
            std::replace(base.begin(), base.end(), '\\', '/');
            base = FileNamePart(base);
            if (!base.empty() && base != "." && base != ".." && RegularFile(folder + base)) {
                found[i] = folder + base;
                continue;
            }
            std::error_code ec;
            for (auto it = std::filesystem::directory_iterator(folder, ec);
                 !ec && it != std::filesystem::directory_iterator() && names.size() < kMaxFolderEntries;
                 it.increment(ec))
                names.push_back(it->path().filename().string());
            std::sort(names.begin(), names.end());
            listed = true;
        }
        found[i] = FindInFolder(folder, named, names);
    }
    return found;
}

int CueAudioTrackCount(const CueSheet& sheet) {
    return static_cast<int>(
        std::count_if(sheet.tracks.begin(), sheet.tracks.end(), [](const CueTrack& t) { return t.audio; }));
}

std::vector<CueTrackSpan> CueSpans(const CueSheet& sheet, size_t file, uint32_t rate, uint64_t fileFrames,
                                   CueGapMode mode) {
    std::vector<CueTrackSpan> spans;
    if (rate == 0 && !sheet.sampleOffsets) return spans;
    // CD frames to sample frames, exactly: positions stay under 100 minutes, so the product fits.
    const auto at = [&](uint64_t position) { return sheet.sampleOffsets ? position : position * rate / 75; };
    const auto start = [&](const CueTrack& t) {
        return at(mode == CueGapMode::Prepended && t.index00 ? *t.index00 : *t.index01);
    };
    const auto boundary = [&](const CueTrack& next) {
        return at(mode != CueGapMode::Appended && next.index00 ? *next.index00 : *next.index01);
    };
    std::vector<size_t> inFile;
    for (size_t i = 0; i < sheet.tracks.size(); ++i) {
        if (sheet.tracks[i].file == file && sheet.tracks[i].index01) inFile.push_back(i);
    }
    for (size_t k = 0; k < inFile.size(); ++k) {
        const CueTrack& track = sheet.tracks[inFile[k]];
        CueTrackSpan span;
        span.number = track.number;
        span.track = inFile[k];
        span.first = start(track);
        span.end = k + 1 < inFile.size() ? boundary(sheet.tracks[inFile[k + 1]]) : fileFrames;
        if (inFile[k] == 0 && track.audio && rate != 0) {
            // The audio before the first track: a hidden track when long, else the first track's own.
            const uint64_t index01 = at(*track.index01);
            if (index01 > uint64_t{kHiddenTrackSeconds} * rate) {
                CueTrackSpan hidden;
                hidden.number = 0;
                hidden.end = index01;
                spans.push_back(hidden);
                span.first = index01;
            } else if (mode != CueGapMode::LeftOut) {
                span.first = 0;
            }
        }
        if (!track.audio) continue;
        spans.push_back(span);
    }
    for (CueTrackSpan& span : spans) {
        if (fileFrames != 0 && span.end > fileFrames) span.end = fileFrames;
        if (fileFrames != 0 && span.first >= fileFrames) span.problem = CueProblem::TrackPastEnd;
        else if (span.end != 0 && span.end <= span.first) span.problem = CueProblem::TrackEmpty;
    }
    return spans;
}

TagRecord CueTrackTags(const CueSheet& sheet, const CueTrackSpan& span, const TagRecord& albumTags) {
    TagRecord tags = albumTags;
    tags.extra.erase("CUESHEET");
    // The file's own per-track fields describe the whole file, not this track.
    tags.Title.clear();
    tags.Track.clear();
    for (const char* name : {"TRACKTOTAL", "TOTALTRACKS", "ISRC", "REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"})
        tags.extra.erase(name);

    static const CueFields kNone;
    const CueFields& album = sheet.fields;
    const CueFields& own = span.track < sheet.tracks.size() ? sheet.tracks[span.track].fields : kNone;
    const auto either = [&](const char* key) {
        std::string value = Field(own, key);
        return value.empty() ? Field(album, key) : value;
    };
    const auto set = [](std::string& field, const std::string& value) {
        if (!value.empty()) field = value;
    };
    const auto setExtra = [&tags](const char* name, const std::string& value) {
        if (!value.empty()) tags.extra[name] = {value};
    };
    tags.Title = Field(own, "TITLE");
    tags.Track = std::to_string(span.number);
    tags.extra["TRACKTOTAL"] = {std::to_string(CueAudioTrackCount(sheet))};
    set(tags.Artist, either("PERFORMER"));
    set(tags.Album, Field(album, "TITLE"));
    setExtra("ALBUMARTIST", Field(album, "PERFORMER"));
    set(tags.Year, either("DATE"));
    set(tags.Genre, either("GENRE"));
    set(tags.Comment, either("COMMENT"));
    set(tags.Composer, either("SONGWRITER"));
    setExtra("ISRC", Field(own, "ISRC"));
    setExtra("DISCNUMBER", Field(album, "DISCNUMBER"));
    setExtra("DISCTOTAL", Field(album, "TOTALDISCS"));
    setExtra("BARCODE", Field(album, "CATALOG"));
    for (const CueFields* fields : {&album, &own}) {
        for (const auto& [key, value] : *fields) {
            if (key.rfind("REPLAYGAIN_", 0) == 0) setExtra(key.c_str(), value);
        }
    }
    return tags;
}

std::string CueDisplayName(const CueSheet& sheet, const CueTrackSpan& span) {
    std::string name = span.number < 10 ? "0" + std::to_string(span.number) : std::to_string(span.number);
    if (span.track < sheet.tracks.size()) {
        const std::string title = Field(sheet.tracks[span.track].fields, "TITLE");
        if (!title.empty()) name += " \u2014 " + title;
    }
    return name;
}

}  // namespace pelloran
