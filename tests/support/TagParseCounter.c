// Preloaded by tests: counts the TagLib parses a process makes (each FileRef made from a stream or a path is
// one parse) and adds the count to the file $PELLORAN_COUNT_OUT when the process ends.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>

static int parses;

// TagLib::FileRef::FileRef(TagLib::IOStream*, bool, TagLib::AudioProperties::ReadStyle)
void _ZN6TagLib7FileRefC1EPNS_8IOStreamEbNS_15AudioProperties9ReadStyleE(void* self, void* stream, bool properties,
                                                                        int style) {
    void (*real)(void*, void*, bool, int) = (void (*)(void*, void*, bool, int))dlsym(
        RTLD_NEXT, "_ZN6TagLib7FileRefC1EPNS_8IOStreamEbNS_15AudioProperties9ReadStyleE");
    __atomic_add_fetch(&parses, 1, __ATOMIC_RELAXED);
    real(self, stream, properties, style);
}

// TagLib::FileRef::FileRef(const char*, bool, TagLib::AudioProperties::ReadStyle)
void _ZN6TagLib7FileRefC1EPKcbNS_15AudioProperties9ReadStyleE(void* self, const char* path, bool properties,
                                                             int style) {
    void (*real)(void*, const char*, bool, int) = (void (*)(void*, const char*, bool, int))dlsym(
        RTLD_NEXT, "_ZN6TagLib7FileRefC1EPKcbNS_15AudioProperties9ReadStyleE");
    __atomic_add_fetch(&parses, 1, __ATOMIC_RELAXED);
    real(self, path, properties, style);
}

__attribute__((destructor)) static void Report(void) {
    const char* out = getenv("PELLORAN_COUNT_OUT");
    if (out == NULL) return;
    FILE* f = fopen(out, "a");
    if (f == NULL) return;
    fprintf(f, "%d\n", parses);
    fclose(f);
}
