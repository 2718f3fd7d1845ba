#include "encode/VorbisComments.h"

#include <string_view>

namespace pelloran {

std::vector<std::pair<std::string, std::string>> VorbisCommentFields(const TagRecord& tags) {
    std::vector<std::pair<std::string, std::string>> fields;
    const auto add = [&fields](const std::string& name, const std::string& value) {
        std::string utf8;
        if (!value.empty() && ToValidUtf8(value, utf8)) fields.emplace_back(name, utf8);
    };
    // The nine with every value (ARTIST, GENRE and COMPOSER may have several); TRACKNUMBER only above 0.
    for (const TagFieldName& f : kTagFieldNames) {
        if (f.field == &TagRecord::Track && TrackNumber(tags.Track) <= 0) continue;
        for (const std::string& value : tags.Values(f.name)) add(f.name, value);
    }
    for (const auto& [name, values] : tags.extra) {
        if (TagFieldOf(name) != nullptr) continue;
        for (const auto& value : values) add(name, value);
    }
    return fields;
}

namespace {

void PutU32BE(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t U16BE(const std::vector<uint8_t>& d, size_t at) { return (uint32_t{d[at]} << 8) | d[at + 1]; }
uint32_t U32BE(const std::vector<uint8_t>& d, size_t at) { return (U16BE(d, at) << 16) | U16BE(d, at + 2); }
uint32_t U16LE(const std::vector<uint8_t>& d, size_t at) { return d[at] | (uint32_t{d[at + 1]} << 8); }
uint32_t U32LE(const std::vector<uint8_t>& d, size_t at) { return U16LE(d, at) | (U16LE(d, at + 2) << 16); }

ImageSize JpegSize(const std::vector<uint8_t>& d) {
    // Segments up to a start-of-frame marker (C0 to CF but C4, C8 and CC): precision, height, width, components.
    size_t at = 2;
    while (at + 4 <= d.size()) {
        if (d[at] != 0xFF) return {};
        const uint8_t marker = d[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2;
            continue;
        }
        const uint32_t length = U16BE(d, at + 2);
        if (length < 2) return {};
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (at + 10 > d.size()) return {};
            return {U16BE(d, at + 7), U16BE(d, at + 5), uint32_t{d[at + 4]} * d[at + 9], 0};
        }
        at += 2 + length;
    }
    return {};
}

}  // namespace

ImageSize ImageSizeOf(const std::vector<uint8_t>& d) {
    const std::string type = SniffImageType(d);
    if (type == "image/png" && d.size() >= 29 && std::string_view(reinterpret_cast<const char*>(&d[12]), 4) == "IHDR") {
        // Bit depth per sample times the samples of the colour type (grey, RGB, palette, grey+alpha, RGBA).
        static constexpr uint32_t kSamples[7] = {1, 0, 3, 1, 2, 0, 4};
        const uint32_t colourType = d[25];
        const uint32_t samples = colourType < 7 ? kSamples[colourType] : 0;
        return {U32BE(d, 16), U32BE(d, 20), colourType == 3 ? 24 : d[24] * samples, 0};
    }
    if (type == "image/jpeg") return JpegSize(d);
    if (type == "image/gif" && d.size() >= 13) {
        const uint32_t colours = (d[10] & 0x80) ? 1u << ((d[10] & 7) + 1) : 0;
        return {U16LE(d, 6), U16LE(d, 8), 24, colours};
    }
    if (type == "image/bmp" && d.size() >= 30) {
        const int32_t height = static_cast<int32_t>(U32LE(d, 22));
        return {U32LE(d, 18), static_cast<uint32_t>(height < 0 ? -static_cast<int64_t>(height) : height), U16LE(d, 28), 0};
    }
    return {};
}

std::vector<uint8_t> FlacPictureBlock(const TagPicture& picture) {
    std::vector<uint8_t> block;
    block.reserve(32 + picture.mimeType.size() + picture.description.size() + picture.data.size());
    PutU32BE(block, static_cast<uint32_t>(picture.type));
    PutU32BE(block, static_cast<uint32_t>(picture.mimeType.size()));
    block.insert(block.end(), picture.mimeType.begin(), picture.mimeType.end());
    PutU32BE(block, static_cast<uint32_t>(picture.description.size()));
    block.insert(block.end(), picture.description.begin(), picture.description.end());
    const ImageSize size = ImageSizeOf(picture.data);
    PutU32BE(block, size.width);
    PutU32BE(block, size.height);
    PutU32BE(block, size.depth);
    PutU32BE(block, size.colours);
    PutU32BE(block, static_cast<uint32_t>(picture.data.size()));
    block.insert(block.end(), picture.data.begin(), picture.data.end());
    return block;
}

std::vector<std::pair<std::string, std::string>> VorbisPictureFields(const TagRecord& tags) {
    std::vector<std::pair<std::string, std::string>> fields;
    for (const TagPicture& picture : tags.pictures) {
        if (picture.data.empty() || picture.data.size() > kMaxPictureBytes) continue;
        fields.emplace_back("METADATA_BLOCK_PICTURE", Base64Encode(FlacPictureBlock(picture)));
    }
    return fields;
}

}  // namespace pelloran
