#include "encode/WavWriter.h"

#include <cstring>
#include <limits>

#include "encode/Id3Tag.h"
#include "encode/Interleave.h"

namespace pelloran {

namespace {

// Speaker positions of each channel count, in the order FLAC and WAVE give them by default.
constexpr uint32_t kChannelMasks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
// The sub-format GUID of integer PCM; IEEE float differs in its leading format tag.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

void PutChunk(std::vector<uint8_t>& out, const char* id, const uint8_t* data, size_t size) {
    uint8_t head[8];
    std::memcpy(head, id, 4);
    StoreU32LE(head + 4, static_cast<uint32_t>(size));
    out.insert(out.end(), head, head + 8);
    out.insert(out.end(), data, data + size);
    if (size % 2 != 0) out.push_back(0);
}

// The chunks after the samples: LIST/INFO with the fields players and file managers show (UTF-8), and an
// "id3 " chunk (ID3v2.4) with every field and picture.
std::vector<uint8_t> TagChunks(const TagRecord& tags) {
    std::vector<uint8_t> chunks;
    if (tags.Empty()) return chunks;
    std::vector<uint8_t> info = {'I', 'N', 'F', 'O'};
    const std::string track = TrackNumber(tags.Track) > 0 ? std::to_string(TrackNumber(tags.Track)) : std::string{};
    for (const auto& [id, text] : {std::pair{"INAM", &tags.Title}, std::pair{"IART", &tags.Artist},
                                   std::pair{"IPRD", &tags.Album}, std::pair{"ICRD", &tags.Year},
                                   std::pair{"IGNR", &tags.Genre}, std::pair{"ICMT", &tags.Comment},
                                   std::pair{"ITRK", &track}, std::pair{"ICOP", &tags.Copyright}}) {
        // Texts end with a zero byte; one that would not fit a chunk is left to the ID3 chunk.
        if (text->empty() || text->size() >= (1u << 20)) continue;
        PutChunk(info, id, reinterpret_cast<const uint8_t*>(text->c_str()), text->size() + 1);
    }
    if (info.size() > 4) PutChunk(chunks, "LIST", info.data(), info.size());
    const std::vector<uint8_t> id3 = BuildId3Tag(4, tags);
    if (!id3.empty()) PutChunk(chunks, "id3 ", id3.data(), id3.size());
    return chunks;
}

}  // namespace

bool WavWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    tagChunks_ = TagChunks(tags);
    if (!Io(file_.Open(path, "wb"))) return false;
    const auto channels = static_cast<uint16_t>(format.channels);
    const auto bits = static_cast<uint16_t>(format.bits);
    const auto rate = static_cast<uint32_t>(format.rate);
    // More than two channels or more than 16 bits need the extensible header (its channel mask and valid bits);
    // floats only beyond two channels. A float header has its cbSize field and a fact chunk.
    const bool isFloat = format.isFloat;
    const bool extensible = format.channels > 2 || (format.bits > 16 && !isFloat);
    const uint32_t fmtBytes = extensible ? 40 : isFloat ? 18 : 16;
    const uint32_t factBytes = isFloat ? 12 : 0;
    factOffset_ = isFloat ? 12 + 8 + fmtBytes + 8 : 0;
    dataOffset_ = 12 + 8 + fmtBytes + factBytes + 8;
    std::vector<uint8_t> header(static_cast<size_t>(dataOffset_));
    uint8_t* h = header.data();
    std::memcpy(h, "RIFF", 4);
    StoreU32LE(h + 4, static_cast<uint32_t>(dataOffset_ - 8));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    StoreU32LE(h + 16, fmtBytes);
    StoreU16LE(h + 20, extensible ? kFormatExtensible : isFloat ? kFormatFloat : kFormatPcm);
    StoreU16LE(h + 22, channels);
    StoreU32LE(h + 24, rate);
    StoreU32LE(h + 28, (static_cast<uint32_t>(channels) * bits * rate) >> 3);
    StoreU16LE(h + 32, static_cast<uint16_t>(channels * bits / 8));
    StoreU16LE(h + 34, bits);
    if (extensible) {
        StoreU16LE(h + 36, 22);
        StoreU16LE(h + 38, bits);  // valid bits: all of the container
        StoreU32LE(h + 40, kChannelMasks[channels]);
        std::memcpy(h + 44, kPcmSubFormat, sizeof kPcmSubFormat);
        StoreU16LE(h + 44, isFloat ? kFormatFloat : kFormatPcm);
    } else if (isFloat) {
        StoreU16LE(h + 36, 0);  // no extra format bytes
    }
    if (isFloat) {
        std::memcpy(h + factOffset_ - 8, "fact", 4);
        StoreU32LE(h + factOffset_ - 4, 4);
        StoreU32LE(h + factOffset_, 0);  // frames, patched at the end
    }
    std::memcpy(h + dataOffset_ - 8, "data", 4);
    StoreU32LE(h + dataOffset_ - 4, 0);
    return Io(file_.Write(header.data(), header.size()));
}

bool WavWriter::Put(const int32_t* const* planes, int frames) {
    const PcmFormat& format = Format();
    InterleaveBytes(planes, format.channels, format.bits, static_cast<size_t>(frames), interleave_);
    const size_t bytes = static_cast<size_t>(frames) * static_cast<size_t>(format.channels * format.bits / 8);
    return Io(file_.Write(interleave_.data(), bytes));
}

bool WavWriter::End() {
    const int64_t dataEnd = file_.Tell();
    // A chunk of odd size is followed by a pad byte, counted by RIFF but not by the data chunk.
    bool ok = dataEnd >= 0 && ((dataEnd - dataOffset_) % 2 == 0 || Io(file_.Write("", 1)));
    // The tags follow the samples, so the samples' room is never moved.
    if (ok && !tagChunks_.empty()) ok = Io(file_.Write(tagChunks_.data(), tagChunks_.size()));
    ok = Io(std::fflush(file_.Get()) == 0) && ok;
    const int64_t size = file_.Tell();
    // RIFF sizes are 32-bit; a file past 4 GiB cannot be described and is refused.
    if (size < dataOffset_ || size - 8 > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) ok = false;
    if (ok) {
        uint8_t field[4];
        StoreU32LE(field, static_cast<uint32_t>(size - 8));
        ok = Io(file_.Seek(4) && file_.Write(field, 4));
        StoreU32LE(field, static_cast<uint32_t>(dataEnd - dataOffset_));
        ok = ok && Io(file_.Seek(dataOffset_ - 4) && file_.Write(field, 4));
        if (factOffset_ != 0) {
            const auto frameBytes = static_cast<int64_t>(Format().channels) * 4;
            StoreU32LE(field, static_cast<uint32_t>((dataEnd - dataOffset_) / frameBytes));
            ok = ok && Io(file_.Seek(factOffset_) && file_.Write(field, 4));
        }
    }
    return Io(file_.Close()) && ok;
}

void WavWriter::Release() {
    file_.Close();
    interleave_.clear();
    tagChunks_.clear();
}

}  // namespace pelloran
