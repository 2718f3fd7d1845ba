#pragma once
// The test support's former name of decode/PcmSource.h; goes once it includes that (the one include of
// platform/ that points into decode/).

#include "decode/PcmSource.h"
