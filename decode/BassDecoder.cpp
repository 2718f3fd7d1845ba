#include "decode/BassDecoder.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>

#include "decode/Readers.h"
#include "platform/File.h"
#include "platform/Id3v2Header.h"
#include "platform/bass.h"
#include "platform/mp4.h"

namespace pelloran {

namespace {

constexpr const char* kTagFormat = "%TRCK\n%TITL\n%ARTI\n%ALBM\n%GNRE\n%YEAR\n%CMNT\n%COMP\n%COPY";

// Bit rates in kbit/s by bit-rate index: MPEG-1 layers I, II, III, then MPEG-2/2.5 layer I, layers II and III.
constexpr int kBitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};

std::string LowerExtension(const std::string& path) {
    std::string ext(PathExtension(path));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

int MpegHeaderChannelMode(const uint8_t header[4]) {
    if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0) return 4;
    const int version = (header[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    const int layer = (header[1] >> 1) & 3;    // 3 layer I, 2 layer II, 1 layer III, 0 reserved
    const int index = header[2] >> 4;
    if (version == 1 || layer == 0 || index == 15) return 4;
    int row = 0;
    if (version == 3) {
        row = 3 - layer;
    } else {
        row = layer == 3 ? 3 : 4;
    }
    if (kBitrates[row][index] == 0) return 4;  // free format is refused too
    return header[3] >> 6;
}

void SplitTagText(const std::string& text, TagRecord& tags) {
    std::string* const pieces[] = {&tags.Track, &tags.Title,  &tags.Artist,  &tags.Album,
                                   &tags.Genre, &tags.Year,   &tags.Comment, &tags.Composer};
    size_t start = 0;
    for (std::string* piece : pieces) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) return;
        *piece = text.substr(start, end - start);
        start = end + 1;
    }
    tags.Copyright = text.substr(start);
}

void BassDecoder::Close() {
    if (handle != 0) {
        if (streamKind == kModuleStream) {
            BASS_MusicFree(handle);
        } else {
            BASS_StreamFree(handle);
        }
    }
    handle = 0;
    buffer.clear();
    buffer.shrink_to_fit();
    bufferSize = 0;
    id3v1Copy.reset();
    id3v2Copy.clear();
    id3v2Copy.shrink_to_fit();
    id3v2Size = 0;
    streamKind = kOtherStream;
    ResetState();
}

int BassDecoder::Open(const std::string& file, int rate) {
    if (handle != 0) Close();
    ResetState();
    streamKind = kOtherStream;

    const std::string ext = LowerExtension(file);
    if (ext == ".mp3") {
        streamKind = kMp3Stream;
    } else if (ext == ".midi" || ext == ".mid" || ext == ".rmi" || ext == ".kar") {
        streamKind = kMidiStream;
    }
    const auto renderRate = static_cast<uint32_t>(rate < 0 ? 0 : rate);

    if (streamKind == kMidiStream) {
        handle = BASS_MIDI_StreamCreateFile(file, 0, 0, BASS_STREAM_DECODE, renderRate);
    } else {
        handle = BASS_StreamCreateFile(file, 0, 0, BASS_STREAM_DECODE);
        if (handle == 0) {
            handle = BASS_MusicLoad(file, 0, 0, BASS_STREAM_DECODE | BASS_MUSIC_PRESCAN | BASS_MUSIC_RAMP,
                                    renderRate);
            if (handle != 0) streamKind = kModuleStream;
        }
    }
    if (handle == 0) {
        streamKind = kOtherStream;
        return 0;
    }

    const uint64_t bytes = BASS_ChannelGetLength(handle, BASS_POS_BYTE);
    BASS_CHANNELINFO info;
    if (bytes == 0 || bytes == kBassNoValue || !BASS_ChannelGetInfo(handle, &info) || info.freq == 0 ||
        info.chans == 0) {
        Close();
        return 0;
    }
    length = bytes;
    const double seconds = BASS_ChannelBytes2Seconds(handle, length);
    durationSeconds = static_cast<int32_t>(seconds);

    sampleRate = static_cast<int32_t>(info.freq);
    channels = static_cast<int32_t>(info.chans);
    outputChannels = channels < 2 ? 1 : 2;
    bitsPerSample = (info.flags & BASS_SAMPLE_8BITS) ? 8 : 16;
    bytesPerSample = bitsPerSample / 8;

    if (streamKind == kMp3Stream) ReadMpegChannelMode(file);

    const uint64_t size = BASS_StreamGetFilePosition(handle, BASS_FILEPOS_END);
    if (seconds > 0 && size != kBassNoValue) {
        bitrateKbps = static_cast<int32_t>(std::floor(static_cast<double>(size) / (seconds * 125) + 0.5));
    } else {
        bitrateKbps = static_cast<int32_t>(static_cast<uint32_t>(bitsPerSample) * static_cast<uint32_t>(sampleRate) *
                                           static_cast<uint32_t>(channels) / 1000u);
    }

    bufferSize = bytesPerSample * outputChannels * kBlockFrames;
    buffer.assign(static_cast<size_t>(bufferSize), 0);
    path = file;
    return 1;
}

// Peeks at the first audio frame's header for the channel mode; any failure leaves the mode at 4.
void BassDecoder::ReadMpegChannelMode(const std::string& file) {
    const uint64_t start = BASS_StreamGetFilePosition(handle, BASS_FILEPOS_START);
    if (start == kBassNoValue) return;
    File in;
    uint8_t header[4];
    if (!in.Open(file, "rb")) return;
    if (!in.Seek(static_cast<int64_t>(start)) || !in.ReadExact(header, sizeof header)) return;
    channelMode = MpegHeaderChannelMode(header);
}

int BassDecoder::Read(void* left, void* right) {
    if (handle == 0) return 0;
    if (channels < 2) {
        const uint32_t got = BASS_ChannelGetData(handle, left, static_cast<uint32_t>(bufferSize));
        if (got == kBassDataError) return 0;
        return static_cast<int>(got / static_cast<uint32_t>(bytesPerSample));
    }
    const uint32_t got = BASS_ChannelGetData(handle, buffer.data(), static_cast<uint32_t>(bufferSize));
    if (got == kBassDataError) return 0;
    const int samples = static_cast<int>(got / static_cast<uint32_t>(bytesPerSample));
    const int frames = samples / channels;
    // The first two channels go out; any others are dropped.
    if (bitsPerSample == 8) {
        auto* l = static_cast<uint8_t*>(left);
        auto* r = static_cast<uint8_t*>(right);
        for (int i = 0; i < frames; ++i) {
            l[i] = buffer[static_cast<size_t>(i) * channels];
            r[i] = buffer[static_cast<size_t>(i) * channels + 1];
        }
    } else {
        auto* l = static_cast<int16_t*>(left);
        auto* r = static_cast<int16_t*>(right);
        const uint8_t* in = buffer.data();
        for (int i = 0; i < frames; ++i) {
            const size_t at = static_cast<size_t>(i) * channels * 2;
            std::memcpy(&l[i], in + at, 2);
            std::memcpy(&r[i], in + at + 2, 2);
        }
    }
    return frames;
}

uint64_t BassDecoder::GetPosition() {
    if (handle == 0) return 0;
    return BASS_ChannelGetPosition(handle, BASS_POS_BYTE);
}

const uint8_t* BassDecoder::GetId3v1Block() {
    if (streamKind != kMp3Stream) return nullptr;
    if (!id3v1Copy) {
        const char* block = BASS_ChannelGetTags(handle, BASS_TAG_ID3);
        if (block != nullptr) {
            id3v1Copy = std::make_unique<std::array<uint8_t, 128>>();
            std::memcpy(id3v1Copy->data(), block, 128);
        }
    }
    return id3v1Copy ? id3v1Copy->data() : nullptr;
}

const uint8_t* BassDecoder::GetId3v2Block(int& size) {
    size = 0;
    if (streamKind != kMp3Stream) return nullptr;
    if (id3v2Copy.empty()) {
        const char* block = BASS_ChannelGetTags(handle, BASS_TAG_ID3V2);
        if (block != nullptr) {
            // The block is a whole tag that the stream checked against the file; its header gives the length.
            const auto* b = reinterpret_cast<const uint8_t*>(block);
            if (const std::optional<Id3v2Header> header = ParseId3v2Header(b, kId3v2HeaderBytes)) {
                id3v2Copy.assign(b, b + header->totalSize());
                id3v2Size = static_cast<int32_t>(header->totalSize());
            }
        }
    }
    if (id3v2Copy.empty()) return nullptr;
    size = id3v2Size;
    return id3v2Copy.data();
}

bool BassDecoder::IsTruncated() const { return handle != 0 && BASS_StreamIsTruncated(handle); }

int BassDecoder::ReadTags(TagRecord& tags) {
    if (handle == 0) return 0;
    const char* raw = TAGS_Read(handle, kTagFormat);
    if (raw == nullptr || *raw == '\0') return 0;
    std::string text = raw;
    if (streamKind != kMp3Stream) {
        std::string converted;
        if (!Utf8ToConsoleCodePage(text, converted)) return 0;
        text = std::move(converted);
    }
    SplitTagText(text, tags);
    return 1;
}

int ReadMp4Tags(const std::string& path, TagRecord& tags) {
    Mp4FilePtr file(MP4ReadExx(path));
    if (!file) return 0;
    int found = 0;
    struct Getter {
        bool (*get)(MP4FileHandle, char**);
        std::string TagRecord::*field;
    };
    const Getter getters[] = {
        {MP4GetMetadataNameExx, &TagRecord::Title},     {MP4GetMetadataArtistExx, &TagRecord::Artist},
        {MP4GetMetadataAlbumExx, &TagRecord::Album},    {MP4GetMetadataYearExx, &TagRecord::Year},
        {MP4GetMetadataGenreExx, &TagRecord::Genre},    {MP4GetMetadataCommentExx, &TagRecord::Comment},
        {MP4GetMetadataWriterExx, &TagRecord::Composer},
    };
    for (const Getter& getter : getters) {
        char* raw = nullptr;
        if (!getter.get(file.get(), &raw)) continue;
        Mp4Text value(raw);
        std::string converted;
        if (Utf8ToConsoleCodePage(value.get(), converted)) {
            tags.*(getter.field) = std::move(converted);
            found = 1;
        }
    }
    uint16_t track = 0;
    uint16_t total = 0;
    if (MP4GetMetadataTrackExx(file.get(), &track, &total)) tags.Track = std::to_string(track);
    tags.Copyright.clear();
    return found;
}

std::unique_ptr<AudioDecoder> MakeBassDecoder() { return std::make_unique<BassDecoder>(); }

}  // namespace pelloran
