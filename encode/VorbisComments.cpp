#include "encode/VorbisComments.h"

namespace pelloran {

std::vector<std::pair<std::string, std::string>> VorbisCommentFields(const TagRecord& tags) {
    std::vector<std::pair<std::string, std::string>> fields;
    const auto add = [&fields](const std::string& name, const std::string& value) {
        std::string utf8;
        if (!value.empty() && ToValidUtf8(value, utf8)) fields.emplace_back(name, utf8);
    };
    add("TITLE", tags.Title);
    add("ARTIST", tags.Artist);
    add("ALBUM", tags.Album);
    add("DATE", tags.Year);
    add("GENRE", tags.Genre);
    add("COMMENT", tags.Comment);
    if (TrackNumber(tags.Track) > 0) add("TRACKNUMBER", tags.Track);
    add("COMPOSER", tags.Composer);
    add("COPYRIGHT", tags.Copyright);
    for (const auto& [name, values] : tags.extra) {
        // The nine above are written from their own fields.
        if (name == "TITLE" || name == "ARTIST" || name == "ALBUM" || name == "DATE" || name == "GENRE" ||
            name == "COMMENT" || name == "TRACKNUMBER" || name == "COMPOSER" || name == "COPYRIGHT")
            continue;
        for (const auto& value : values) add(name, value);
    }
    return fields;
}

namespace {

void PutU32BE(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

}  // namespace

std::vector<uint8_t> FlacPictureBlock(const TagPicture& picture) {
    std::vector<uint8_t> block;
    block.reserve(32 + picture.mimeType.size() + picture.description.size() + picture.data.size());
    PutU32BE(block, static_cast<uint32_t>(picture.type));
    PutU32BE(block, static_cast<uint32_t>(picture.mimeType.size()));
    block.insert(block.end(), picture.mimeType.begin(), picture.mimeType.end());
    PutU32BE(block, static_cast<uint32_t>(picture.description.size()));
    block.insert(block.end(), picture.description.begin(), picture.description.end());
    for (int i = 0; i < 4; ++i) PutU32BE(block, 0);  // width, height, depth, colours: unknown
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
