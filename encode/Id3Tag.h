#pragma once
// ID3 tag rendering through TagLib (in memory), and the checks applied to raw ID3 blocks copied from a source.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

// Renders an ID3v1 (version 1, 128 bytes) or ID3v2.3 (version 2) tag from the UTF-8 texts of tags.
// ID3v2: TIT2, TPE1, TALB, TYER (TDAT when the date has a day), TCON, TCOM/TCOP only when not empty, COMM (language
// "XXX", empty description) always, TRCK (the track number's low byte, "/total" with TRACKTOTAL) only when that
// is not 0; then every other field of extra by TagLib's mapping (TPE2, TPOS, TBPM, TSRC, USLT, TCMP, ...), TXXX
// for the rest, and the pictures as APIC frames. Text that is not ASCII is stored as UTF-16.
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
