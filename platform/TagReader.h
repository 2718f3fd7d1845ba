#pragma once
// A file's tags as TagLib reads them, straight into the tag record, and the raw ID3 blocks of its bytes.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

class File;

// Fills tags from what TagLib finds in an open file (read at its own offsets; name serves the format guess).
// Values stay whole, several lines or any length; every value of a name is kept (SettleValues). An MP3's
// ID3v2 tag is read first, then its APEv2 and ID3v1 tags fill the names it lacks; a WAV's RIFF INFO fills
// what its ID3v2 chunk lacks, an AIFF's NAME/AUTH/ANNO/(c) chunks what its ID3 chunk lacks. False, tags untouched, when TagLib does not know the file or
// finds none of the nine fields.
bool ReadTagLibTags(const File& file, const std::string& name, TagRecord& tags);

// The property name of a container metadata key (FFmpeg's generic names such as album_artist and disc, ASF
// attribute names such as WM/BeatsPerMinute); other plain names upper-cased; "" for names no format could store
// and for those that describe the source file itself (its encoder, container brands, gapless data).
std::string PropertyNameOfMetadataKey(std::string_view key);
// Settles the values (SettleValues), then splits "n/total" of the track and disc numbers: Track "n" with
// TRACKTOTAL, DISCNUMBER "n" with DISCTOTAL (a total already present is kept).
void SplitTotals(TagRecord& tags);
// Adds a container metadata entry's value to extra under its property name; SplitTotals settles the fields.
void AddMetadataEntry(TagRecord& tags, std::string_view key, const std::string& value);

// A picture from the base64 text of a METADATA_BLOCK_PICTURE comment (a FLAC picture block); false when the
// text or the block is malformed or the picture is larger than kMaxPictureBytes.
bool PictureFromVorbisComment(std::string_view base64, TagPicture& picture);

// Raw ID3 blocks of a file: the 128-byte ID3v1 block at its end and the whole ID3v2 tag at its start (footer
// included). A tag that claims more than the file holds is damaged: no block rather than a short one.
struct Id3Blocks {
    std::optional<std::array<uint8_t, 128>> v1;
    std::vector<uint8_t> v2;  // empty when absent
};
Id3Blocks ReadId3Blocks(const File& file);

}  // namespace pelloran
