// libFuzzer entry point: one input file through the FlacSource, narrow and wide, read to the end.

#include "platform/File.h"
#include "decode/FlacSource.h"
#include "tests/fuzz/FuzzReader.h"

namespace {

// At most the stated length and one block more.
void ReadToEnd(pelloran::PcmSource& source) {
    constexpr uint64_t kMaxBlockFrames = 65535;
    pelloran::fuzz::ReadSourceToEnd(source, source.LengthFrames() + kMaxBlockFrames);
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
