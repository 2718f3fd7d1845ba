// libFuzzer entry point: one input file through the MPEG audio walks of our own (where the audio starts after
// ID3v2 tags and an encoder's information frame, the raw ID3 blocks, ADTS and free-format frame scans).

#include <cstdlib>

#include "platform/File.h"
#include "platform/MpegFrames.h"
#include "platform/TagReader.h"
#include "tests/fuzz/FuzzReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelloran::fuzz::MemoryFile memory(data, size);
    pelloran::File file;
    if (!memory.Ok() || !file.Open(memory.Path(), "rb")) return 0;
    if (const auto start = pelloran::FindMpegAudioStart(file); start && *start >= size) std::abort();
    const pelloran::Id3Blocks blocks = pelloran::ReadId3Blocks(file);
    if (blocks.v2.size() > size) std::abort();
    for (const auto& scan : {pelloran::ScanAdts(file), pelloran::ScanFreeFormatMpeg(file)}) {
        // Every frame counted holds at least one byte of the file.
        if (scan && (scan->audioBytes > size || scan->frames > size)) std::abort();
    }
    return 0;
}
