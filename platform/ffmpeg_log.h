#pragma once
// FFmpeg's logging, set once per process so that damaged files do not flood stderr.

namespace pelloran {

void QuietFfmpegLog();

}  // namespace pelloran
