#pragma once
// Tracker modules rendered with libopenmpt: stereo 16-bit, played once to the song's computed length.

#include <memory>

#include "decode/PcmSource.h"

namespace pelloran {

class File;

class ModuleSource final : public PcmSource {
public:
    // Null when the file is no module of the known types (MOD, XM, IT, S3M, MTM, UMX, MO3) or the rate is out
    // of 8 to 192 kHz; rate 0 is 44.1 kHz. The file is read whole at once.
    static std::unique_ptr<ModuleSource> Open(const File& file, int rate);
    ~ModuleSource() override;

    size_t Read(void* out, size_t frames) override;
    // The module's title and artist.
    bool ReadTags(TagRecord& tags) override;

private:
    ModuleSource();
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
