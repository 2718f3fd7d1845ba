// libFuzzer entry point: the input as the text of a METADATA_BLOCK_PICTURE comment, and as the picture block
// itself (base64-encoded first), through the picture parser.

#include <cstdlib>
#include <string_view>

#include "media/TagRecord.h"
#include "platform/TagReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    pelloran::TagPicture picture;
    if (pelloran::PictureFromVorbisComment(bytes, picture) && picture.data.size() > size) std::abort();
    pelloran::TagPicture block;
    if (pelloran::PictureFromVorbisComment(pelloran::Base64Encode(bytes), block) && block.data.size() > size)
        std::abort();
    return 0;
}
