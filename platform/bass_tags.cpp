// Tag texts through TagLib, the tag format of TAGS_Read, and the raw ID3 blocks read from a file's bytes.

#include <taglib/fileref.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/File.h"
#include "platform/Id3v2Header.h"
#include "platform/bass_channel.h"

namespace pelloran::bass {

namespace {

std::string FirstValue(const TagLib::PropertyMap& properties, const char* key) {
    auto it = properties.find(key);
    if (it == properties.end() || it->second.isEmpty()) return {};
    return it->second.front().to8Bit(true);
}

// Size of the ID3v2 tag whose 10-byte header is at p (header, body and footer), or 0 when p is no header.
uint64_t Id3v2TagSize(const uint8_t (&p)[kId3v2HeaderBytes]) {
    const std::optional<Id3v2Header> header = ParseId3v2Header(p, sizeof p);
    return header ? header->totalSize() : 0;
}

// An MPEG audio frame sync with usable version, layer, bit-rate and sample-rate fields (free format allowed).
bool LooksLikeFrameHeader(const uint8_t* p) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    if (((p[1] >> 3) & 3) == 1) return false;  // reserved version
    if (((p[1] >> 1) & 3) == 0) return false;  // reserved layer
    if ((p[2] >> 4) == 15) return false;       // bad bit-rate index
    if (((p[2] >> 2) & 3) == 3) return false;  // reserved sample rate
    return true;
}

// Bytes of the frame whose header is at p; 0 for free format or a reserved field.
uint64_t MpegFrameBytes(const uint8_t* p) {
    static constexpr int kBitrates[5][16] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    };
    static constexpr int kRates[3] = {44100, 48000, 32000};
    if (!LooksLikeFrameHeader(p)) return 0;
    const int version = (p[1] >> 3) & 3;
    const int layer = (p[1] >> 1) & 3;
    const int row = version == 3 ? 3 - layer : (layer == 3 ? 3 : 4);
    const int kbps = kBitrates[row][p[2] >> 4];
    int rate = kRates[(p[2] >> 2) & 3];
    if (version == 2) rate /= 2;
    if (version == 0) rate /= 4;
    if (kbps == 0) return 0;
    const int padding = (p[2] >> 1) & 1;
    if (layer == 3) return static_cast<uint64_t>((12000 * kbps / rate + padding) * 4);
    const int factor = (layer == 1 && version != 3) ? 72000 : 144000;
    return static_cast<uint64_t>(factor * kbps / rate + padding);
}

// A Layer III frame carrying an encoder's "Xing"/"Info" header after its side information, or "VBRI" at 36.
bool IsInformationFrame(const uint8_t* p) {
    if (std::memcmp(p + 36, "VBRI", 4) == 0) return true;
    if (((p[1] >> 1) & 3) != 1) return false;
    const bool mpeg1 = ((p[1] >> 3) & 3) == 3;
    const bool mono = (p[3] >> 6) == 3;
    const size_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const size_t at = 4 + ((p[1] & 1) ? 0 : 2) + sideInfo;
    return std::memcmp(p + at, "Xing", 4) == 0 || std::memcmp(p + at, "Info", 4) == 0;
}

}  // namespace

TagFields ReadFileTags(const std::string& path) {
    TagFields fields;
    TagLib::FileRef ref(path.c_str(), false);
    if (ref.isNull() || !ref.file()->isValid()) return fields;
    const TagLib::PropertyMap properties = ref.file()->properties();
    fields.track = FirstValue(properties, "TRACKNUMBER");
    fields.title = FirstValue(properties, "TITLE");
    fields.artist = FirstValue(properties, "ARTIST");
    fields.album = FirstValue(properties, "ALBUM");
    fields.genre = FirstValue(properties, "GENRE");
    fields.year = FirstValue(properties, "DATE");
    fields.comment = FirstValue(properties, "COMMENT");
    // Vorbis comments name the comment field DESCRIPTION.
    if (fields.comment.empty()) fields.comment = FirstValue(properties, "DESCRIPTION");
    fields.composer = FirstValue(properties, "COMPOSER");
    fields.copyright = FirstValue(properties, "COPYRIGHT");
    return fields;
}

std::string FormatTagText(const char* format, const TagFields& fields) {
    struct Code {
        const char* name;
        const std::string TagFields::*field;
    };
    static constexpr Code kCodes[] = {
        {"TRCK", &TagFields::track},   {"TITL", &TagFields::title},    {"ARTI", &TagFields::artist},
        {"ALBM", &TagFields::album},   {"GNRE", &TagFields::genre},    {"YEAR", &TagFields::year},
        {"CMNT", &TagFields::comment}, {"COMP", &TagFields::composer}, {"COPY", &TagFields::copyright},
    };
    std::string text;
    bool found = false;
    for (const char* p = format; *p != '\0';) {
        if (*p == '%') {
            const Code* code = nullptr;
            for (const Code& c : kCodes) {
                if (std::strncmp(p + 1, c.name, 4) == 0) code = &c;
            }
            if (code != nullptr) {
                const std::string& value = fields.*(code->field);
                found = found || !value.empty();
                text += value;
                p += 5;
                continue;
            }
            if (p[1] == '%') {
                text += '%';
                p += 2;
                continue;
            }
        }
        text += *p++;
    }
    return found ? text : std::string();
}

Id3Blocks ReadId3Blocks(const std::string& path) {
    Id3Blocks blocks;
    File file;
    if (!file.Open(path, "rb")) return blocks;
    const int64_t size = file.Size();
    if (size < 10) return blocks;

    uint8_t header[10];
    if (file.ReadExact(header, sizeof header)) {
        const uint64_t tagSize = Id3v2TagSize(header);
        // A tag that claims more than the file holds is damaged: no block rather than a short one.
        if (tagSize != 0 && tagSize <= static_cast<uint64_t>(size)) {
            blocks.v2.resize(tagSize);
            if (!file.Seek(0) || !file.ReadExact(blocks.v2.data(), blocks.v2.size())) blocks.v2.clear();
        }
    }
    if (size >= 128 && file.Seek(size - 128)) {
        std::array<char, 128> v1;
        if (file.ReadExact(v1.data(), v1.size()) && std::memcmp(v1.data(), "TAG", 3) == 0) blocks.v1 = v1;
    }
    return blocks;
}

uint64_t FindMpegAudioStart(const std::string& path) {
    File file;
    if (!file.Open(path, "rb")) return kBassNoValue;
    const int64_t size = file.Size();
    if (size < 4) return kBassNoValue;

    // Skip ID3v2 tags (several may follow each other).
    uint64_t offset = 0;
    for (int tags = 0; tags < 8; ++tags) {
        uint8_t header[10];
        if (!file.Seek(static_cast<int64_t>(offset)) || !file.ReadExact(header, sizeof header)) break;
        const uint64_t tagSize = Id3v2TagSize(header);
        if (tagSize == 0 || offset + tagSize > static_cast<uint64_t>(size)) break;
        offset += tagSize;
    }

    // Look for the frame sync within the next megabyte (padding or junk may precede the audio).
    constexpr uint64_t kScanLimit = 1 << 20;
    std::vector<uint8_t> chunk(64 * 1024 + 3);
    uint64_t scanned = 0;
    uint64_t start = kBassNoValue;
    while (start == kBassNoValue && scanned < kScanLimit && offset + 3 < static_cast<uint64_t>(size)) {
        if (!file.Seek(static_cast<int64_t>(offset))) break;
        const size_t got = file.Read(chunk.data(), chunk.size());
        if (got < 4) break;
        for (size_t i = 0; i + 3 < got; ++i) {
            if (LooksLikeFrameHeader(&chunk[i])) {
                start = offset + i;
                break;
            }
        }
        offset += got - 3;
        scanned += got - 3;
    }
    if (start == kBassNoValue) return start;

    // An encoder's information frame ("Xing", "Info", "VBRI") holds no audio: the audio starts after it.
    uint8_t frame[48];
    if (!file.Seek(static_cast<int64_t>(start)) || !file.ReadExact(frame, sizeof frame)) return start;
    const uint64_t frameBytes = MpegFrameBytes(frame);
    if (frameBytes == 0 || start + frameBytes + 4 > static_cast<uint64_t>(size)) return start;
    if (!IsInformationFrame(frame)) return start;
    uint8_t next[4];
    if (!file.Seek(static_cast<int64_t>(start + frameBytes)) || !file.ReadExact(next, sizeof next) ||
        !LooksLikeFrameHeader(next)) {
        return start;
    }
    return start + frameBytes;
}

}  // namespace pelloran::bass
