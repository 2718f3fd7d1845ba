#pragma once
// ITU-T G.711 expansion of one companded byte to a 16-bit sample.

#include <cstdint>

namespace pelloran {

int16_t UlawExpand(uint8_t byte);
int16_t AlawExpand(uint8_t byte);

}  // namespace pelloran
