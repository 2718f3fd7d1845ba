#pragma once
// Parameter tables and rules shared by the plans, and the tag sources of the tagged formats.

#include <cstdint>
#include <string>
#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

class AudioDecoder;
struct ConvertSettings;
struct TagSettings;

// Ascending tables ending in -1.
extern const int kEncoderRateTable[];    // 8000 .. 48000 Hz
extern const int kMp3BitrateTable[];     // 8 .. 320 kbit/s
extern const int kOggBitrateTable[];     // 8 .. 480 kbit/s

struct EncodingParams {
    int rate = 0;         // output rate in Hz
    int bitrateKbps = 0;  // kbit/s
};

// Output rate and bit rate that follow a source of this rate and channel count.
EncodingParams AutoEncodingParams(int rate, int channels);
// Limits an OGG bit rate to what the rate and channel count allow.
int ClampOggBitrate(int rate, int channels, int bitrateKbps);
// The table entry nearest to value (the lower one on a tie), the first or last entry outside the table.
int NearestInTable(int value, const int* table);

// Tag values from a format's tag options for one source (title from the file name, track by type).
TagRecord TagsFromSettings(const TagSettings& settings, const std::string& sourcePath, int runPosition);

// Repairs a tag text for writing: invalid UTF-8 replaced, control characters other than tab and line
// breaks removed. The text stays whole; a format with limits of its own (ID3v1) applies them.
std::string CleanTagText(const std::string& text);

// Where a conversion's tags come from.
struct TagChoice {
    bool haveValues = false;  // values holds the tags to write
    TagRecord values;
    std::vector<uint8_t> id3v1;  // raw blocks copied from an MP3 source (MP3 output only)
    std::vector<uint8_t> id3v2;
    // The MP3 source's ID3v2 block held a picture too large to carry: values are written as ID3v2 in its place.
    bool renderId3v2 = false;
};

// Tag types of the *ID3TagType settings.
enum TagType : int { kTagsCustom = 0, kTagsFromSource = 1, kTagsNone = 2, kTagsMerged = 3 };

// Picks the tags by the format's tag type: 0 the format's tag options, 1 the source's tags (the raw ID3
// blocks when copyRawId3, the source is an MP3 file without an APEv2 tag and its pictures may travel, none over
// kMaxPictureBytes),
// 3 the source's tags with every field filled in the tag options on top, anything else none. Without copyCover
// no picture travels. Texts come back cleaned.
TagChoice ChooseTags(int tagType, const TagSettings& tagSettings, AudioDecoder& decoder, uint16_t formatCode,
                     const std::string& sourcePath, int runPosition, bool copyRawId3, bool copyCover = true,
                     const TagRecord* given = nullptr);

// The source's tags: TagLib's reading of the file (every property and the pictures), else the reader's own
// (decoder may be null). False, tags untouched, when neither finds any.
bool ReadSourceTags(const std::string& path, AudioDecoder* decoder, TagRecord& tags);

// The source's tags with every field filled in the tag options on top: texts that are not empty, the title from
// the file name only where the source has none, the track when the options give one.
TagRecord MergeTags(TagRecord source, const TagSettings& settings, const std::string& sourcePath, int runPosition);

// What a target of the settings' output format cannot hold of tags: the property names of the fields, then
// "PICTURE" for each picture left out (too large to read, or of a kind the target does not take).
std::vector<std::string> TagsDropped(const ConvertSettings& settings, const TagRecord& tags);
// What a target leaves out of the tags its plan chose (written), or of the source's tags when the format holds
// none; largePictures of the pictures were too large to carry.
struct DroppedTags {
    std::vector<std::string> names;
    int largePictures = 0;
};
DroppedTags TagsLeftBehind(const ConvertSettings& settings, const TagRecord& written, AudioDecoder& decoder,
                           const std::string& sourcePath, const TagRecord* given = nullptr);

}  // namespace pelloran
