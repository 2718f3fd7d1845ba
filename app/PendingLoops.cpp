// Output formats whose writer is not built in yet: their conversion fails.
// Each line goes away when its loop lands.

#include "app/ConvertLoop.h"

namespace pelloran {

int ConvertToAmr(uint16_t, const std::string&, const std::string&, ConvertContext&) { return 0; }
int ConvertToAac(uint16_t, const std::string&, const std::string&, ConvertContext&) { return 0; }
int ConvertToMp4(uint16_t, const std::string&, const std::string&, ConvertContext&) { return 0; }
int ConvertToWma(uint16_t, const std::string&, const std::string&, ConvertContext&) { return 0; }

}  // namespace pelloran
