#pragma once
// ID3 tag rendering through TagLib (in memory), and the checks applied to raw ID3 blocks copied from a source.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

// Renders an ID3v1 (version 1, 128 bytes), ID3v2.3 (version 2 or 3) or ID3v2.4 (version 4) tag from the UTF-8
// texts of tags. ID3v2: TIT2, TPE1, TALB, the date (TDRC in 2.4; TYER, TDAT and TIME in 2.3), TCON, COMM (language
// "XXX", empty description) when there is a comment or the user gave an empty one, TCOM, TCOP, TRCK ("n/total"
// with TRACKTOTAL) when the track is above 0; then every other field of extra by the taggers' names (kTagNames:
// TPE2, TPOS, TIT1 for GROUPING, TXXX:MusicBrainz Album Id, UFID:http://musicbrainz.org, ...), TagLib's mapping
// for names without one, TXXX for the rest; and the pictures as APIC frames. Several values of a field are
// separate strings in 2.4 and joined with "/" in 2.3. Text that is not ASCII is UTF-8 in 2.4, UTF-16 in 2.3.
// ID3v1: Latin-1 ('?' for what Latin-1 lacks), each text cut to its field, the genre's index, the track byte.
// Empty result when rendering failed or the tag would exceed ID3v2's 256 MB.
std::vector<uint8_t> BuildId3Tag(int version, const TagRecord& tags);

// Whole size of a well-formed ID3v2 block (header, body and footer) at data, or 0 when the header is not
// valid or the block does not fit in available bytes.
size_t Id3v2BlockSize(const uint8_t* data, size_t available);
// True when block starts a 128-byte ID3v1 tag.
bool IsId3v1Block(const uint8_t* block);

// UTF-8 text as Latin-1 bytes: invalid bytes and characters above U+00FF become '?'.
std::string Utf8ToLatin1(std::string_view text);
// UTF-8 text as UTF-16 code units (surrogate pairs above U+FFFF); invalid bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace pelloran
