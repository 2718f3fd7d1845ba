#include "platform/Id3v2Header.h"

namespace pelloran {

std::optional<Id3v2Header> ParseId3v2Header(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kId3v2HeaderBytes) return std::nullopt;
    if (data[0] != 'I' || data[1] != 'D' || data[2] != '3') return std::nullopt;
    if (data[3] < 2 || data[3] > 4 || data[4] == 0xFF) return std::nullopt;
    if ((data[6] | data[7] | data[8] | data[9]) & 0x80) return std::nullopt;  // sizes are synchsafe
    Id3v2Header header;
    header.version = data[3];
    header.revision = data[4];
    header.flags = data[5];
    header.bodySize = (uint32_t{data[6]} << 21) | (uint32_t{data[7]} << 14) | (uint32_t{data[8]} << 7) | data[9];
    header.footer = header.version == 4 && (header.flags & 0x10) != 0;
    return header;
}

}  // namespace pelloran
