#pragma once
// The 10-byte header that starts an ID3v2 tag, and the size of the whole tag it announces.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace pelloran {

inline constexpr size_t kId3v2HeaderBytes = 10;
inline constexpr size_t kId3v2FooterBytes = 10;

struct Id3v2Header {
    uint8_t version = 0;    // major version: 2, 3 or 4
    uint8_t revision = 0;
    uint8_t flags = 0;
    uint32_t bodySize = 0;  // bytes between the header and the footer (at most 2^28 - 1)
    bool footer = false;    // an ID3v2.4 tag ends with a 10-byte copy of its header

    // Header, body and footer.
    size_t totalSize() const { return kId3v2HeaderBytes + bodySize + (footer ? kId3v2FooterBytes : 0); }
};

// Parses the header at data: "ID3", major version 2 to 4, revision not 0xFF, four synchsafe size bytes.
// The footer flag (0x10) counts for version 4 only. Reads at most the first 10 of the size bytes; nullopt
// when there are fewer or the header is not valid.
std::optional<Id3v2Header> ParseId3v2Header(const uint8_t* data, size_t size);

}  // namespace pelloran
