// libFuzzer entry point: one input file through the WavSource, narrow and wide, read to the end.

#include <cstdlib>
#include <vector>

#include "platform/File.h"
#include "platform/WavSource.h"
#include "tests/fuzz/FuzzReader.h"

namespace {

// Reads the source to the end; aborts when it gives more than it said it holds or never ends.
void ReadToEnd(pelloran::PcmSource& source, size_t inputSize) {
    const pelloran::SourceFormat& format = source.Format();
    if (format.rate <= 0 || format.channels < 1 || format.FrameBytes() == 0) std::abort();
    constexpr size_t kFrames = 777;  // divides no block
    std::vector<uint8_t> block(kFrames * format.FrameBytes());
    uint64_t total = 0;
    while (const size_t n = source.Read(block.data(), kFrames)) {
        if (n > kFrames) std::abort();
        total += n;
        // Every frame comes from at least one byte of the input.
        if (total > inputSize) std::abort();
    }
    if (!source.Truncated() && total != source.LengthFrames()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelloran::fuzz::MemoryFile memory(data, size);
    pelloran::File file;
    if (!memory.Ok() || !file.Open(memory.Path(), "rb")) return 0;
    if (auto source = pelloran::WavSource::Open(file, memory.Path())) {
        ReadToEnd(*source, size);
        if (auto wide = source->OpenWide()) ReadToEnd(*wide, size);
    }
    return 0;
}
