// libFuzzer entry point: one input file through the WavSource, narrow and wide, and float files wide with
// their bits kept, read to the end.

#include <cstdlib>

#include "decode/WavSource.h"
#include "platform/File.h"
#include "tests/fuzz/FuzzReader.h"

namespace {

// Every frame comes from at least one byte of the input; an intact file gives exactly its stated length.
void ReadToEnd(pelloran::PcmSource& source, size_t inputSize) {
    const uint64_t total = pelloran::fuzz::ReadSourceToEnd(source, inputSize);
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
    // Float files open on the wide path only.
    if (auto wide = pelloran::WavSource::Open(file, memory.Path(), true); wide && wide->StoresFloat()) {
        if (!wide->KeepFloat()) std::abort();  // before the first read it always can
        ReadToEnd(*wide, size);
    }
    return 0;
}
