#include "platform/FfmpegApi.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace pelloran::ffmpeg {

namespace {

// One of the four libraries: its soname (from the headers' own version) and, once opened, its handle.
struct Library {
    const char* soname;
    void* handle = nullptr;
};
#define PELLORAN_SONAME(library, MAJOR) "lib" #library ".so." AV_STRINGIFY(MAJOR)

struct Loaded {
    Functions table;
    std::string error;  // "" when every library and function was found
};

// The libraries stay loaded for the life of the process (FFmpeg keeps global state), so the handles are never closed.
Loaded LoadLibraries() {
    Loaded loaded;
    Library avutil{PELLORAN_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR)};
    Library swresample{PELLORAN_SONAME(swresample, LIBSWRESAMPLE_VERSION_MAJOR)};
    Library avcodec{PELLORAN_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR)};
    Library avformat{PELLORAN_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR)};
    for (Library* library : {&avutil, &swresample, &avcodec, &avformat}) {
        library->handle = dlopen(library->soname, RTLD_LAZY | RTLD_LOCAL);
        if (library->handle == nullptr) {
            const char* why = dlerror();
            loaded.error = why != nullptr ? why : library->soname;
            return loaded;
        }
    }
    Functions& t = loaded.table;
#define PELLORAN_FFMPEG_LOOKUP(library, name)                                                                     \
    t.name = reinterpret_cast<decltype(t.name)>(dlsym(library.handle, #name));                                   \
    if (t.name == nullptr) {                                                                                     \
        loaded.error = std::string(#name) + " is missing from " + library.soname;                                \
        return loaded;                                                                                           \
    }
    PELLORAN_FFMPEG_FUNCTIONS(PELLORAN_FFMPEG_LOOKUP)
#undef PELLORAN_FFMPEG_LOOKUP
#undef PELLORAN_SONAME
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

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (!Load() || (Table().av_strerror)(code, text, sizeof text) < 0) return "error " + std::to_string(code);
    return text;
}

const Functions& Table() {
    const Loaded& loaded = Libraries();
    if (!loaded.error.empty()) {
        std::fprintf(stderr, "pelloran: FFmpeg could not be loaded: %s\n", loaded.error.c_str());
        std::abort();
    }
    return loaded.table;
}

}  // namespace pelloran::ffmpeg
