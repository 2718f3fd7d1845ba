#pragma once
// ITU-T G.711 expansion of one companded byte to a 16-bit sample, and the codec of one byte per value.

#include <cstdint>
#include <vector>

#include "decode/SoundCodec.h"

namespace pelloran {

int16_t UlawExpand(uint8_t byte);
int16_t AlawExpand(uint8_t byte);

class G711Codec final : public SoundCodec {
public:
    explicit G711Codec(bool alaw) : expand_(alaw ? &AlawExpand : &UlawExpand) {}
    int Decode(SoundData& data, int16_t* out, int count) override;

private:
    int16_t (*expand_)(uint8_t);
    std::vector<uint8_t> bytes_;  // grows to one request, never beyond the data
};

}  // namespace pelloran
