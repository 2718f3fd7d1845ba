#pragma once
// Vorbis comments of a tag record, shared by the Ogg Vorbis, FLAC and Opus writers.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

// NAME/value pairs: the nine fields under their usual names (TITLE, ARTIST, ALBUM, DATE, GENRE, COMMENT,
// TRACKNUMBER only when above 0, COMPOSER, COPYRIGHT; every value of ARTIST, GENRE and COMPOSER), then every
// value of every other field under its property name. Empty values are left out; texts are valid UTF-8.
std::vector<std::pair<std::string, std::string>> VorbisCommentFields(const TagRecord& tags);

// The pictures as METADATA_BLOCK_PICTURE comments (Ogg Vorbis, Opus): a FLAC picture block in base64 each.
std::vector<std::pair<std::string, std::string>> VorbisPictureFields(const TagRecord& tags);

// Width, height, colour depth in bits and palette colours of a PNG, JPEG, GIF or BMP image, as a FLAC picture
// block states them; all 0 for an image it cannot read.
struct ImageSize {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0;
    uint32_t colours = 0;
};
ImageSize ImageSizeOf(const std::vector<uint8_t>& data);

// A FLAC picture block body (type, MIME type, description, sizes, data), as FLAC stores it and as Ogg
// comments carry it in METADATA_BLOCK_PICTURE (base64).
std::vector<uint8_t> FlacPictureBlock(const TagPicture& picture);

}  // namespace pelloran
