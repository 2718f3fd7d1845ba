#include "decode/G711.h"

#include <algorithm>

namespace pelloran {

int16_t UlawExpand(uint8_t byte) {
    const int v = static_cast<uint8_t>(~byte);
    const int t = ((v & 0x0F) * 8 + 132) << ((v & 0x70) >> 4);
    return static_cast<int16_t>((byte & 0x80) ? t - 132 : 132 - t);
}

int16_t AlawExpand(uint8_t byte) {
    const int v = byte ^ 0x55;
    int t = (v & 0x0F) << 4;
    const int segment = (v & 0x70) >> 4;
    if (segment == 0) {
        t += 8;
    } else if (segment == 1) {
        t += 264;
    } else {
        t = (t + 264) << (segment - 1);
    }
    return static_cast<int16_t>((byte & 0x80) ? t : -t);
}

int G711Codec::Decode(SoundData& data, int16_t* out, int count) {
    const auto want = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(std::max(count, 0)), data.DataLeft()));
    if (bytes_.size() < want) bytes_.resize(want);
    const size_t got = data.ReadData(bytes_.data(), want);
    std::transform(bytes_.data(), bytes_.data() + got, out, expand_);
    return static_cast<int>(got);
}

}  // namespace pelloran
