// libFuzzer entry point: one input file through the WavReader.

#include "decode/Readers.h"
#include "tests/fuzz/FuzzReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return pelloran::fuzz::FuzzReader(pelloran::MakeWavReader(), data, size);
}
