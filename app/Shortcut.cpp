#include "app/Shortcut.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "media/TagRecord.h"
#include "platform/Paths.h"

namespace pelloran {

namespace {

// Shortcut files are a few hundred bytes; anything far larger is not one.
constexpr size_t kMaxShortcutSize = 1 << 20;
constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Link flags.
constexpr uint32_t kHasTargetIdList = 0x1;
constexpr uint32_t kHasLinkInfo = 0x2;
constexpr uint32_t kHasName = 0x4;
constexpr uint32_t kHasRelativePath = 0x8;
constexpr uint32_t kIsUnicode = 0x80;
constexpr uint32_t kForceNoLinkInfo = 0x100;
// LinkInfo flags.
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x1;

// A view of the bytes that answers out-of-range reads with false.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t size() const { return size_; }
    bool U16(size_t at, uint32_t& v) const {
        if (at > size_ || size_ - at < 2) return false;
        v = data_[at] | (data_[at + 1] << 8);
        return true;
    }
    bool U32(size_t at, uint32_t& v) const {
        if (at > size_ || size_ - at < 4) return false;
        v = static_cast<uint32_t>(data_[at]) | (static_cast<uint32_t>(data_[at + 1]) << 8) |
            (static_cast<uint32_t>(data_[at + 2]) << 16) | (static_cast<uint32_t>(data_[at + 3]) << 24);
        return true;
    }
    const uint8_t* at(size_t offset) const { return data_ + offset; }
    // The part [offset, offset + length), or an empty view with ok false.
    Bytes Sub(size_t offset, size_t length, bool& ok) const {
        ok = offset <= size_ && length <= size_ - offset;
        return ok ? Bytes(data_ + offset, length) : Bytes(data_, 0);
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const Bytes& b, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = 0;
        if (!b.U16(i * 2, u)) break;
        if (u >= 0xD800 && u < 0xDC00) {
            uint32_t low = 0;
            if (i + 1 < units && b.U16((i + 1) * 2, low) && low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
            u = 0xFFFD;
        } else if (u >= 0xDC00 && u < 0xE000) {
            u = 0xFFFD;
        }
        AppendUtf8(out, u);
    }
    return out;
}

// Code-page text of unknown origin: bytes above 0x7F are taken as Latin-1.
std::string ToValidUtf8(const uint8_t* p, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) AppendUtf8(out, p[i]);
    return out;
}

// A zero-terminated single-byte string inside b from offset; false when it runs off the end.
bool ReadAnsiZ(const Bytes& b, size_t offset, std::string& out) {
    if (offset >= b.size()) return false;
    for (size_t i = offset; i < b.size(); ++i) {
        if (*b.at(i) == 0) {
            out = ToValidUtf8(b.at(offset), i - offset);
            return true;
        }
    }
    return false;
}

// A zero-terminated UTF-16LE string inside b from offset.
bool ReadUnicodeZ(const Bytes& b, size_t offset, std::string& out) {
    if (offset >= b.size()) return false;
    for (size_t i = offset; i + 1 < b.size(); i += 2) {
        if (*b.at(i) == 0 && *b.at(i + 1) == 0) {
            bool ok = false;
            out = Utf16ToUtf8(b.Sub(offset, i - offset, ok), (i - offset) / 2);
            return ok;
        }
    }
    return false;
}

bool ParseLinkInfo(const Bytes& info, std::string& localPath) {
    uint32_t headerSize = 0, flags = 0, baseOffset = 0, suffixOffset = 0;
    if (!info.U32(4, headerSize) || !info.U32(8, flags) || !info.U32(16, baseOffset) ||
        !info.U32(24, suffixOffset))
        return false;
    if (headerSize < 0x1C || headerSize > info.size()) return false;
    if ((flags & kVolumeIdAndLocalBasePath) == 0) return true;  // a network target only

    uint32_t baseOffsetW = 0, suffixOffsetW = 0;
    const bool hasUnicode = headerSize >= 0x24 && info.U32(28, baseOffsetW) && info.U32(32, suffixOffsetW);
    std::string base, suffix;
    if (hasUnicode && baseOffsetW != 0) {
        if (!ReadUnicodeZ(info, baseOffsetW, base)) return false;
    } else if (!ReadAnsiZ(info, baseOffset, base)) {
        return false;
    }
    if (hasUnicode && suffixOffsetW != 0) {
        if (!ReadUnicodeZ(info, suffixOffsetW, suffix)) return false;
    } else if (suffixOffset != 0 && !ReadAnsiZ(info, suffixOffset, suffix)) {
        return false;
    }
    localPath = base;
    if (!suffix.empty()) {
        if (!localPath.empty() && localPath.back() != '\\') localPath += '\\';
        localPath += suffix;
    }
    return true;
}

// One counted string of the string-data part at pos; pos moves past it.
bool ReadCountedString(const Bytes& b, size_t& pos, bool unicode, std::string& out) {
    uint32_t count = 0;
    if (!b.U16(pos, count)) return false;
    pos += 2;
    const size_t bytes = unicode ? size_t{count} * 2 : size_t{count};
    bool ok = false;
    const Bytes text = b.Sub(pos, bytes, ok);
    if (!ok) return false;
    out = unicode ? Utf16ToUtf8(text, count) : ToValidUtf8(text.at(0), bytes);
    pos += bytes;
    return true;
}

std::string WinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix == '/') return prefix;
    if (const char* home = std::getenv("HOME"); home && *home == '/') return std::string(home) + "/.wine";
    return {};
}

}  // namespace

bool ParseShortcut(const uint8_t* data, size_t size, ShortcutInfo& info) {
    info = {};
    if (data == nullptr) return false;
    const Bytes b(data, size);
    uint32_t headerSize = 0, flags = 0;
    if (!b.U32(0, headerSize) || headerSize != kHeaderSize || size < kHeaderSize) return false;
    for (size_t i = 0; i < 16; ++i) {
        if (data[4 + i] != kLinkClsid[i]) return false;
    }
    b.U32(20, flags);
    size_t pos = kHeaderSize;

    if (flags & kHasTargetIdList) {
        uint32_t idListSize = 0;
        if (!b.U16(pos, idListSize)) return false;
        pos += 2;
        if (idListSize > size - pos) return false;
        pos += idListSize;
    }
    if (flags & kHasLinkInfo) {
        uint32_t linkInfoSize = 0;
        if (!b.U32(pos, linkInfoSize) || linkInfoSize < 0x1C) return false;
        bool ok = false;
        const Bytes linkInfo = b.Sub(pos, linkInfoSize, ok);
        if (!ok) return false;
        if ((flags & kForceNoLinkInfo) == 0 && !ParseLinkInfo(linkInfo, info.localPath)) return false;
        pos += linkInfoSize;
    }
    const bool unicode = (flags & kIsUnicode) != 0;
    std::string ignored;
    if ((flags & kHasName) && !ReadCountedString(b, pos, unicode, ignored)) return false;
    if ((flags & kHasRelativePath) && !ReadCountedString(b, pos, unicode, info.relativePath)) return false;
    return !info.localPath.empty() || !info.relativePath.empty();
}

std::string MapWindowsPath(const std::string& windowsPath) {
    std::string path = windowsPath;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    if (path.rfind("//", 0) == 0) return {};  // a network share
    if (!path.empty() && path[0] == '/') return path;
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) return {};
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    std::string rest = path.substr(2);
    if (rest.empty() || rest[0] != '/') rest.insert(rest.begin(), '/');
    if (drive == 'z') return rest;
    const std::string prefix = WinePrefix();
    if (prefix.empty()) return {};
    const std::string device = prefix + "/dosdevices/" + drive + ":";
    if (!IsFolder(device)) return {};
    return device + rest;
}

bool ResolveShortcut(const std::string& path, std::string& target) {
    target.clear();
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return false;
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<uint64_t>(st.st_size) > kMaxShortcutSize)
        return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;

    ShortcutInfo info;
    if (!ParseShortcut(bytes.data(), bytes.size(), info)) return false;
    if (!info.localPath.empty()) {
        const std::string local = MapWindowsPath(info.localPath);
        if (!local.empty() && FileExists(local)) {
            target = local;
            return true;
        }
    }
    if (!info.relativePath.empty()) {
        std::string relative = info.relativePath;
        for (char& c : relative) {
            if (c == '\\') c = '/';
        }
        if (relative.size() >= 2 && relative[1] == ':') return false;  // a drive path is not relative
        const std::filesystem::path joined =
            (std::filesystem::path(path).parent_path() / relative).lexically_normal();
        if (FileExists(joined.string())) {
            target = joined.string();
            return true;
        }
    }
    return false;
}

}  // namespace pelloran
