#include "decode/SoundCodec.h"

#include <algorithm>

namespace pelloran {

int BlockCodec::Decode(SoundData& data, int16_t* out, int count) {
    const auto wanted = static_cast<size_t>(std::max(count, 0));
    size_t given = 0;
    while (given < wanted) {
        if (taken_ < held_) {
            const size_t n = std::min(held_ - taken_, wanted - given);
            std::copy_n(values_.data() + taken_, n, out + given);
            taken_ += n;
            given += n;
            continue;
        }
        const size_t bytes = BlockBytes();
        if (bytes == 0 || data.DataLeft() < bytes) {
            data.Abandon();
            break;
        }
        block_.resize(bytes);
        values_.resize(static_cast<size_t>(BlockValues()));
        taken_ = held_ = 0;
        if (data.ReadData(block_.data(), bytes) < bytes) break;
        if (!DecodeBlock(block_.data(), values_.data())) {
            data.Abandon();
            break;
        }
        held_ = values_.size();
    }
    return static_cast<int>(given);
}

}  // namespace pelloran
