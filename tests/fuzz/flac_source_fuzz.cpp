// libFuzzer entry point: one input file through the FlacSource, narrow and wide, read to the end.

#include <cstdlib>
#include <vector>

#include "platform/File.h"
#include "platform/FlacSource.h"
#include "tests/fuzz/FuzzReader.h"

namespace {

constexpr uint64_t kMaxBlockFrames = 65535;

// Reads the source to the end; aborts when it gives more than its length and one block, or never ends.
void ReadToEnd(pelloran::PcmSource& source) {
    const pelloran::SourceFormat& format = source.Format();
    if (format.rate <= 0 || format.channels < 1 || format.FrameBytes() == 0) std::abort();
    constexpr size_t kFrames = 777;  // divides no block
    std::vector<uint8_t> block(kFrames * format.FrameBytes());
    uint64_t total = 0;
    while (const size_t n = source.Read(block.data(), kFrames)) {
        if (n > kFrames) std::abort();
        total += n;
        if (total > source.LengthFrames() + kMaxBlockFrames) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelloran::fuzz::MemoryFile memory(data, size);
    pelloran::File file;
    if (!memory.Ok() || !file.Open(memory.Path(), "rb")) return 0;
    if (auto source = pelloran::FlacSource::Open(file, memory.Path())) {
        ReadToEnd(*source);
        if (auto wide = source->OpenWide()) ReadToEnd(*wide);
    }
    return 0;
}
