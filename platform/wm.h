#pragma once
// Stand-in for the Windows Media runtime: WMA reading and writing through FFmpeg.

namespace pelloran {

// True once LoadWmaRuntime has found the WMA codecs and the ASF container (process-wide).
bool WmaRuntimeReady();
// Looks for the WMA decoder, the wmav2 encoder and the ASF muxer; sets the ready flag when all exist.
bool LoadWmaRuntime();

// Address of the runtime's download page, opened when the user asks for it.
extern const char* const kWmaRuntimeDownloadAddress;

}  // namespace pelloran
