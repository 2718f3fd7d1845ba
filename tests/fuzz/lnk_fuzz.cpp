// libFuzzer entry point: the shortcut reader; what it accepts must name a path in valid UTF-8, which the
// Windows path mapping then takes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/Shortcut.h"

namespace {

bool ValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        if (lead < 0x80) length = 1;
        else if ((lead >> 5) == 0x6) length = 2;
        else if ((lead >> 4) == 0xE) length = 3;
        else if ((lead >> 3) == 0x1E) length = 4;
        if (length == 0 || text.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelloran::ShortcutInfo info;
    if (!pelloran::ParseShortcut(data, size, info)) return 0;
    if (info.localPath.empty() && info.relativePath.empty()) std::abort();
    // A character takes at least one byte of input and at most four of output.
    if (info.localPath.size() + info.relativePath.size() > 4 * size) std::abort();
    if (!ValidUtf8(info.localPath) || !ValidUtf8(info.relativePath)) std::abort();
    (void)pelloran::MapWindowsPath(info.localPath);
    (void)pelloran::MapWindowsPath(info.relativePath);
    return 0;
}
