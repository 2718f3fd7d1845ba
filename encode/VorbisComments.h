#pragma once
// Vorbis comments of a tag record, shared by the Ogg Vorbis, FLAC and Opus writers.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

// NAME/value pairs: the nine fields under their usual names (TITLE, ARTIST, ALBUM, DATE, GENRE, COMMENT,
// TRACKNUMBER only when above 0, COMPOSER, COPYRIGHT), then every other field under its property name. Empty
// values are left out; texts are valid UTF-8.
std::vector<std::pair<std::string, std::string>> VorbisCommentFields(const TagRecord& tags);

// The pictures as METADATA_BLOCK_PICTURE comments (Ogg Vorbis, Opus): a FLAC picture block in base64 each.
std::vector<std::pair<std::string, std::string>> VorbisPictureFields(const TagRecord& tags);

// A FLAC picture block body (type, MIME type, description, sizes, data), as FLAC stores it and as Ogg
// comments carry it in METADATA_BLOCK_PICTURE (base64).
std::vector<uint8_t> FlacPictureBlock(const TagPicture& picture);

}  // namespace pelloran
