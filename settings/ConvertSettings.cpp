#include "settings/ConvertSettings.h"

namespace pelloran {

ConvertSettings::ConvertSettings() {}

}  // namespace pelloran
