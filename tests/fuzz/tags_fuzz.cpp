// libFuzzer entry point: the input as a tagged file (its first byte picks the kind TagLib takes it for) through
// the tag reader, our AIFF text chunks and the settling of values included, and the record it gives back out
// through the ID3v2.3 and v2.4 writers.

#include <cstdlib>
#include <string>

#include "encode/Id3Tag.h"
#include "media/TagRecord.h"
#include "platform/File.h"
#include "platform/TagReader.h"
#include "tests/fuzz/FuzzReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const char* const kNames[] = {"x.aiff", "x.mp3", "x.wav", "x.flac", "x.m4a", "x.ogg", "x.wma", "x.ape"};
    const std::string name = kNames[data[0] % 8];
    pelloran::fuzz::MemoryFile memory(data + 1, size - 1);
    if (!memory.Ok()) return 0;
    pelloran::File file;
    if (!file.Open(memory.Path(), "rb")) return 0;
    pelloran::TagRecord tags;
    if (!pelloran::ReadTagLibTags(file, name, tags)) return 0;
    if (tags.extra.size() > pelloran::kMaxTagNames) std::abort();
    for (const auto& [key, values] : tags.extra) {
        if (values.size() > pelloran::kMaxTagValues) std::abort();
    }
    for (const int version : {3, 4}) pelloran::BuildId3Tag(version, tags);
    return 0;
}
