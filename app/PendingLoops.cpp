// Output formats whose writer is not built in yet: their conversion fails.
// Each line goes away when its loop lands.

#include "app/ConvertLoop.h"

namespace pelloran {

}  // namespace pelloran
