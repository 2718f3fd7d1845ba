#include "formats/EncodingParams.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "decode/AudioDecoder.h"
#include "encode/Id3Tag.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "platform/TagReader.h"
#include "formats/OutputFormat.h"
#include "formats/SettingsTable.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

const int kEncoderRateTable[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, -1};
const int kMp3BitrateTable[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320, -1};
const int kOggBitrateTable[] = {8,   16,  24,  32,  40,  48,  56,  64,  80,  96,  112,
                                128, 144, 160, 192, 224, 256, 320, 400, 480, -1};

EncodingParams AutoEncodingParams(int rate, int channels) {
    struct Row {
        int upTo, rate, mono, other;
    };
    static constexpr Row kRows[] = {{11025, 11025, 24, 48}, {12000, 12000, 24, 48}, {16000, 16000, 32, 56},
                                    {22050, 22050, 48, 64}, {24000, 24000, 48, 64}, {32000, 32000, 64, 96},
                                    {44100, 44100, 96, 128}};
    const bool mono = channels == 1;
    for (const Row& row : kRows) {
        if (rate <= row.upTo) return {row.rate, mono ? row.mono : row.other};
    }
    return {48000, mono ? 128 : 192};
}

int ClampOggBitrate(int rate, int channels, int bitrateKbps) {
    struct Limits {
        int rate, stereoMin, stereoMax, otherMin, otherMax;
    };
    static constexpr Limits kLimits[] = {{8000, 16, 80, 8, 40},     {11025, 16, 96, 16, 48},
                                         {12000, 16, 96, 16, 48},   {16000, 24, 160, 16, 80},
                                         {22050, 32, 160, 16, 80},  {24000, 32, 160, 16, 80},
                                         {32000, 40, 320, 32, 160}, {44100, 48, 480, 32, 224},
                                         {48000, 48, 480, 32, 224}};
    for (const Limits& l : kLimits) {
        if (l.rate != rate) continue;
        const bool stereo = channels >= 2;
        return std::clamp(bitrateKbps, stereo ? l.stereoMin : l.otherMin, stereo ? l.stereoMax : l.otherMax);
    }
    return bitrateKbps;  // rates outside the table are not limited
}

int NearestInTable(int value, const int* table) {
    if (table == nullptr || table[0] < 0) return value;
    if (value <= table[0]) return table[0];
    int i = 1;
    for (; table[i] >= 0; ++i) {
        if (value == table[i]) return value;
        if (value < table[i]) {
            const int below = table[i - 1];
            const int above = table[i];
            return (value - below) <= (above - value) ? below : above;
        }
    }
    return table[i - 1];
}

std::string CleanTagText(const std::string& text) {
    std::string valid;
    if (!ToValidUtf8(text, valid)) return {};
    std::string out;
    out.reserve(valid.size());
    for (char c : valid) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F) continue;
        out += c;
    }
    return out;
}

namespace {

// Texts cleaned, empty values and pictures left out, names that no format could store dropped.
void CleanAll(TagRecord& tags) {
    for (const TagFieldName& f : kTagFieldNames) tags.*f.field = CleanTagText(tags.*f.field);
    for (auto it = tags.extra.begin(); it != tags.extra.end();) {
        std::vector<std::string> values;
        for (const std::string& value : it->second) {
            std::string clean = CleanTagText(value);
            if (!clean.empty()) values.push_back(std::move(clean));
        }
        if (values.empty() || it->first.empty()) {
            it = tags.extra.erase(it);
        } else {
            it->second = std::move(values);
            ++it;
        }
    }
    std::erase_if(tags.pictures, [](const TagPicture& p) { return p.data.empty() || p.data.size() > kMaxPictureBytes; });
    for (TagPicture& p : tags.pictures) p.description = CleanTagText(p.description);
}

// Copies the source's raw ID3 blocks; each only when its header is valid and it fits in the source file.
void CopyRawId3(AudioDecoder& decoder, const std::string& sourcePath, TagChoice& choice) {
    const uint64_t fileSize = FileSize(sourcePath).value_or(0);
    const uint8_t* v1 = decoder.GetId3v1Block();
    if (v1 != nullptr && fileSize >= 128 && IsId3v1Block(v1)) choice.id3v1.assign(v1, v1 + 128);
    int size = 0;
    const uint8_t* v2 = decoder.GetId3v2Block(size);
    if (v2 != nullptr && size > 0) {
        const size_t available = std::min<uint64_t>(static_cast<uint64_t>(size), fileSize);
        const size_t blockSize = Id3v2BlockSize(v2, available);
        if (blockSize > 0) choice.id3v2.assign(v2, v2 + blockSize);
    }
}

// True when an MP3 file ends in an APEv2 tag (mp3gain's), before an ID3v1 block or not: its fields are not in
// the ID3 blocks.
bool HasApeTag(const std::string& sourcePath) {
    File file;
    if (!file.Open(sourcePath, "rb")) return false;
    const int64_t size = file.Size();
    for (const int64_t end : {size, size - 128}) {
        char footer[8];
        if (end >= 32 && file.ReadExactAt(end - 32, footer, sizeof footer) && std::memcmp(footer, "APETAGEX", 8) == 0)
            return true;
    }
    return false;
}

// Pictures over kMaxPictureBytes in an MP3 source's tags, which its raw blocks would carry; only a file larger
// than that is read.
int LargePicturesInMp3(const std::string& sourcePath) {
    if (FileSize(sourcePath).value_or(0) <= kMaxPictureBytes) return 0;
    TagRecord tags;
    return ReadSourceTags(sourcePath, nullptr, tags) ? tags.oversizePictures : 0;
}

// The tags of a tag type; false for none. The raw ID3 copy is the caller's.
bool PickTags(int tagType, const TagSettings& tagSettings, AudioDecoder* decoder, const std::string& sourcePath,
              int runPosition, bool copyCover, const TagRecord* given, TagRecord& out) {
    // The source's tags: given (a CUE track's), else read from the file.
    const auto readSource = [&](TagRecord& tags) {
        if (given == nullptr) return ReadSourceTags(sourcePath, decoder, tags);
        tags = *given;
        return true;
    };
    TagRecord picked;
    if (tagType == kTagsCustom) {
        picked = TagsFromSettings(tagSettings, sourcePath, runPosition);
    } else if (tagType == kTagsFromSource) {
        if (!readSource(picked) || picked.Empty()) return false;
    } else if (tagType == kTagsMerged) {
        TagRecord source;
        readSource(source);
        picked = MergeTags(std::move(source), tagSettings, sourcePath, runPosition);
    } else {
        return false;
    }
    if (!copyCover) {
        picked.pictures.clear();
        picked.oversizePictures = 0;
    }
    CleanAll(picked);
    out = std::move(picked);
    return true;
}

// The pictures MP4's covr item takes.
bool CovrTakes(const TagPicture& p) {
    const std::string type = SniffImageType(p.data);
    return type == "image/jpeg" || type == "image/png" || type == "image/bmp" || type == "image/gif";
}

}  // namespace

bool ReadSourceTags(const std::string& path, AudioDecoder* decoder, TagRecord& tags) {
    TagRecord read;
    if (decoder != nullptr && decoder->SourceFile() != nullptr) {
        // A reader with the file open reads it with TagLib itself (its container's tags where TagLib finds
        // none): one parse, no second open.
        if (decoder->ReadTags(read) == 0 || (read.Empty() && read.oversizePictures == 0)) return false;
        tags = std::move(read);
        return true;
    }
    File file;
    if (file.Open(path, "rb")) ReadTagLibTags(file, path, read);
    file.Close();
    // The reader's own reading fills what TagLib left empty (a field it could not parse, a format it lacks).
    TagRecord own;
    if (decoder != nullptr && decoder->ReadTags(own) != 0) {
        for (const TagFieldName& f : kTagFieldNames) {
            if ((read.*f.field).empty()) read.*f.field = std::move(own.*f.field);
        }
        for (auto& [name, values] : own.extra) {
            // Not what describes the source file itself (its encoder).
            if (!PropertyNameOfMetadataKey(name).empty()) read.extra.try_emplace(name, std::move(values));
        }
        if (read.pictures.empty()) read.pictures = std::move(own.pictures);
        // foobar2000's TOTALTRACKS beside TRACKTOTAL, the fields' values.
        SettleValues(read);
    }
    if (read.Empty() && read.oversizePictures == 0) return false;
    tags = std::move(read);
    return true;
}

TagRecord MergeTags(TagRecord source, const TagSettings& settings, const std::string& sourcePath, int runPosition) {
    const TagRecord custom = TagsFromSettings(settings, sourcePath, runPosition);
    for (const TagFieldName& f : kTagFieldNames) {
        const std::string& value = custom.*f.field;
        if (value.empty()) continue;
        // A title made from the file name is a fallback, not a field the user filled in.
        if (f.field == &TagRecord::Title && settings.TitleAsFileName != 0 && !source.Title.empty()) continue;
        source.*f.field = value;
    }
    return source;
}

TagChoice ChooseTags(int tagType, const TagSettings& tagSettings, AudioDecoder& decoder, uint16_t formatCode,
                     const std::string& sourcePath, int runPosition, bool copyRawId3, bool copyCover,
                     const TagRecord* given) {
    TagChoice choice;
    // An MP3 source's own blocks travel whole, unless its pictures must stay behind.
    if (tagType == kTagsFromSource && copyRawId3 && copyCover && formatCode == kInputMp3 && given == nullptr &&
        !HasApeTag(sourcePath)) {
        CopyRawId3(decoder, sourcePath, choice);
        if (choice.id3v2.size() > kMaxPictureBytes && LargePicturesInMp3(sourcePath) > 0) {
            // Written anew, without the pictures too large to carry.
            choice.id3v2.clear();
            choice.renderId3v2 = true;
        } else if (!choice.id3v1.empty() || !choice.id3v2.empty()) {
            return choice;
        }
    }
    choice.haveValues =
        PickTags(tagType, tagSettings, &decoder, sourcePath, runPosition, copyCover, given, choice.values);
    return choice;
}

std::vector<std::string> TagsDropped(const ConvertSettings& settings, const TagRecord& tags) {
    std::vector<std::string> dropped;
    const OutputFormatDescriptor* format = FindOutputFormat(settings.OutputFormat);
    if (format == nullptr) return dropped;  // not known here
    const bool tagless = !format->tags;
    const bool id3v1Only = format->id3v1Only != nullptr && format->id3v1Only(settings);
    std::set<std::string> seen;  // a file may have hundreds of thousands of names
    const auto drop = [&dropped, &seen](const std::string& name) {
        if (seen.insert(name).second) dropped.push_back(name);
    };
    for (const TagFieldName& f : kTagFieldNames) {
        if ((tags.*f.field).empty()) continue;
        // ID3v1 has fields for these (cut to its sizes), and a genre index.
        const bool inV1 = f.field != &TagRecord::Composer && f.field != &TagRecord::Copyright &&
                          (f.field != &TagRecord::Genre || GenreIndex(tags.Genre) != 12 || tags.Genre == "Other");
        if (tagless || (id3v1Only && !inV1)) drop(f.name);
    }
    // ID3v1 holds none of the others, nor more than one value of a field.
    if (tagless || id3v1Only) {
        for (const auto& [name, values] : tags.extra) drop(name);
    }
    for (const TagPicture& p : tags.pictures) {
        const bool covr = format->pictures == PictureRule::CovrKinds;
        if (tagless || id3v1Only || (covr && !CovrTakes(p))) dropped.emplace_back("PICTURE");
    }
    for (int i = 0; i < tags.oversizePictures; ++i) dropped.emplace_back("PICTURE");
    // Past the reader's bounds: counted, not named.
    if (tags.omittedValues > 0) dropped.push_back("MORE:" + std::to_string(tags.omittedValues));
    return dropped;
}

DroppedTags TagsLeftBehind(const ConvertSettings& settings, const TagRecord& written, AudioDecoder& decoder,
                           const std::string& sourcePath, const TagRecord* given) {
    const OutputFormatDescriptor* format = FindOutputFormat(settings.OutputFormat);
    if (format == nullptr) return {};
    if (!format->tags) {
        // Formats without tags leave behind whatever the source has.
        TagRecord tags;
        if (given != nullptr) tags = *given;
        else if (!ReadSourceTags(sourcePath, &decoder, tags)) return {};
        CleanAll(tags);
        return {TagsDropped(settings, tags), tags.oversizePictures};
    }
    return {TagsDropped(settings, written), written.oversizePictures};
}

TagRecord TagsFromSettings(const TagSettings& settings, const std::string& sourcePath, int runPosition) {
    TagRecord tags;
    if (settings.TitleAsFileName != 0) {
        const size_t slash = sourcePath.find_last_of('/');
        std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
        const size_t dot = name.find_last_of('.');
        if (dot != std::string::npos && dot != 0) name.resize(dot);
        tags.Title = name;
    } else {
        tags.Title = settings.Title;
    }
    tags.Artist = settings.Artist;
    tags.Album = settings.Album;
    tags.Year = settings.Year;
    tags.Genre = settings.Genre;
    tags.Comment = settings.Comment;
    tags.commentGiven = true;
    tags.Composer = settings.Composer;
    tags.Copyright = settings.Copyright;
    int track = 0;
    if (settings.TrackNumType == 1) track = runPosition;
    else if (settings.TrackNumType == 2) track = settings.CustomTrackNum;
    tags.Track = track > 0 ? std::to_string(track) : std::string{};
    return tags;
}

}  // namespace pelloran
