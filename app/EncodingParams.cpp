#include "app/EncodingParams.h"

#include <algorithm>

#include "platform/Paths.h"
#include "decode/AudioDecoder.h"
#include "encode/Id3Tag.h"
#include "platform/mp4.h"
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
        const bool stereo = channels == 2;
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
    if (!AnsiToUtf8(text, valid)) return {};
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

void CleanAll(TagRecord& tags) {
    for (std::string* text : {&tags.Title, &tags.Artist, &tags.Album, &tags.Year, &tags.Genre, &tags.Comment,
                              &tags.Track, &tags.Composer, &tags.Copyright})
        *text = CleanTagText(*text);
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

}  // namespace

TagChoice ChooseTags(int tagType, const TagSettings& tagSettings, AudioDecoder& decoder, uint16_t formatCode,
                     const std::string& sourcePath, int runPosition, bool copyRawId3) {
    TagChoice choice;
    if (tagType == 0) {
        choice.values = TagsFromSettings(tagSettings, sourcePath, runPosition);
        choice.haveValues = true;
    } else if (tagType == 1) {
        if (copyRawId3 && formatCode == kInputMp3) {
            CopyRawId3(decoder, sourcePath, choice);
            return choice;
        }
        // MP4-family sources: the MP4 metadata reader first, ReadTags when it finds nothing.
        TagRecord read;
        bool found = false;
        if (formatCode == kInputM4a || formatCode == kInputMp4) found = ReadMp4Metadata(sourcePath, read) && !read.Empty();
        if (!found) {
            read = TagRecord{};
            found = decoder.ReadTags(read) != 0 && !read.Empty();
        }
        if (found) {
            choice.values = std::move(read);
            choice.haveValues = true;
        }
    }
    if (choice.haveValues) CleanAll(choice.values);
    return choice;
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
    tags.Composer = settings.Composer;
    tags.Copyright = settings.Copyright;
    int track = 0;
    if (settings.TrackNumType == 1) track = runPosition;
    else if (settings.TrackNumType == 2) track = settings.CustomTrackNum;
    tags.Track = track > 0 ? std::to_string(track) : std::string{};
    return tags;
}

}  // namespace pelloran
