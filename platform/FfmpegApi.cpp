#include "platform/FfmpegApi.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace pelloran::ffmpeg {

namespace {

// The sonames of the libraries the headers describe.
#define PELLORAN_SONAME(library, MAJOR) "lib" #library ".so." AV_STRINGIFY(MAJOR)
constexpr const char* kAvutil = PELLORAN_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR);
constexpr const char* kSwresample = PELLORAN_SONAME(swresample, LIBSWRESAMPLE_VERSION_MAJOR);
constexpr const char* kAvcodec = PELLORAN_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR);
constexpr const char* kAvformat = PELLORAN_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR);
#undef PELLORAN_SONAME

struct Loaded {
    Functions table;
    std::string error;  // "" when every library and function was found
};

// The libraries stay loaded for the life of the process (FFmpeg keeps global state), so the handles are never closed.
Loaded LoadLibraries() {
    Loaded loaded;
    void* handles[4] = {};
    const char* const names[4] = {kAvutil, kSwresample, kAvcodec, kAvformat};
    for (int i = 0; i < 4; ++i) {
        handles[i] = dlopen(names[i], RTLD_LAZY | RTLD_LOCAL);
        if (handles[i] == nullptr) {
            const char* why = dlerror();
            loaded.error = why != nullptr ? why : names[i];
            return loaded;
        }
    }
    void* const avutil = handles[0];
    void* const swresample = handles[1];
    void* const avcodec = handles[2];
    void* const avformat = handles[3];
    Functions& t = loaded.table;
#define PELLORAN_FFMPEG_LOOKUP(library, name)                                                                     \
    t.name = reinterpret_cast<decltype(t.name)>(dlsym(library, #name));                                          \
    if (t.name == nullptr) {                                                                                     \
        loaded.error = std::string(#name) + " is missing from " + (library == avutil       ? kAvutil              \
                                                                   : library == swresample ? kSwresample          \
                                                                   : library == avcodec    ? kAvcodec             \
                                                                                           : kAvformat);          \
        return loaded;                                                                                           \
    }
    PELLORAN_FFMPEG_FUNCTIONS(PELLORAN_FFMPEG_LOOKUP)
#undef PELLORAN_FFMPEG_LOOKUP
    // Damaged files would otherwise flood stderr.
    (t.av_log_set_level)(AV_LOG_FATAL);
    return loaded;
}

const Loaded& Libraries() {
    static const Loaded loaded = LoadLibraries();
    return loaded;
}

}  // namespace

bool Load() { return Libraries().error.empty(); }

const std::string& LoadError() { return Libraries().error; }

const Functions& Table() {
    const Loaded& loaded = Libraries();
    if (!loaded.error.empty()) {
        std::fprintf(stderr, "pelloran: FFmpeg could not be loaded: %s\n", loaded.error.c_str());
        std::abort();
    }
    return loaded.table;
}

}  // namespace pelloran::ffmpeg
