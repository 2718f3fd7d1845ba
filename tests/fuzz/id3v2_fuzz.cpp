// libFuzzer entry point: the ID3v2 header parser and the block size built on it must agree, look at no
// more than ten bytes, and never find a tag in fewer.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "encode/Id3Tag.h"
#include "platform/Id3v2Header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using pelloran::Id3v2Header;
    const std::optional<Id3v2Header> header = pelloran::ParseId3v2Header(data, size);
    const size_t block = pelloran::Id3v2BlockSize(data, size);

    // The first bytes alone, in a buffer of exactly their size: reads past it are caught.
    const size_t head = std::min(size, pelloran::kId3v2HeaderBytes);
    std::unique_ptr<uint8_t[]> copy(new uint8_t[head == 0 ? 1 : head]);
    std::copy(data, data + head, copy.get());
    const std::optional<Id3v2Header> fromHead = pelloran::ParseId3v2Header(copy.get(), head);
    if (header.has_value() != fromHead.has_value()) std::abort();

    if (!header) {
        if (block != 0) std::abort();
        return 0;
    }
    if (size < pelloran::kId3v2HeaderBytes || header->version < 2 || header->version > 4) std::abort();
    if (header->bodySize >= (1u << 28) || (header->footer && header->version != 4)) std::abort();
    if (fromHead->bodySize != header->bodySize || fromHead->footer != header->footer) std::abort();
    const size_t total = header->totalSize();
    if (block != (total <= size ? total : 0)) std::abort();
    return 0;
}
