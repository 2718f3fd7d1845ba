#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <utility>

namespace pelloran {

namespace {

// A settings file is a few kilobytes; anything far larger is not ours.
constexpr std::uintmax_t kMaxFileBytes = 4u << 20;

std::string Escape(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                if (i + 2 >= text.size()) return false;
                const int hi = HexValue(text[i + 1]);
                const int lo = HexValue(text[i + 2]);
                if (hi < 0 || lo < 0) return false;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

// Owns a file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    bool ok() const { return fd_ >= 0; }
    int get() const { return fd_; }
    // False when closing reports an error (a write that did not reach the disk).
    bool Close() {
        if (fd_ < 0) return true;
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

// A file made by mkstemp from a template; removed unless its path was cleared after a rename.
struct TempFile {
    explicit TempFile(std::string pattern) : path(std::move(pattern)), fd(mkstemp(path.data())) {
        if (!fd.ok()) path.clear();
    }
    ~TempFile() {
        fd.Close();
        if (!path.empty()) unlink(path.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string path;
    Descriptor fd;
};

// The file that path names once symbolic links are followed (the last one may point nowhere yet);
// nullopt for a loop of links or a link that cannot be read.
std::optional<std::filesystem::path> FollowLinks(const std::string& path) {
    std::filesystem::path current(path);
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::error_code ec;
        const std::filesystem::path next = std::filesystem::read_symlink(current, ec);
        if (ec) return std::nullopt;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return std::nullopt;
}

// True when some line is more than blanks or a comment.
bool HasContent(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const size_t first = text.find_first_not_of(" \t\r", start);
        if (first < end && text[first] != '#' && text[first] != ';') return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string RegistryStore::DefaultPath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::string(home) + "/.config";
    } else {
        base = ".config";
    }
    return base + "/Brenthaven/Pelloran.conf";
}

RegistryStore::LoadStatus RegistryStore::Load(const std::string& path) {
    keys_.clear();
    parseWarnings_.clear();
    path_ = path;
    writable_ = true;
    loadError_.clear();
    const auto refuse = [this](LoadStatus status, std::string reason) {
        keys_.clear();
        writable_ = false;
        loadError_ = std::move(reason);
        return status;
    };
    // Non-blocking, so that a FIFO in its place cannot hang the start.
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.ok()) {
        if (errno == ENOENT) return LoadStatus::Missing;  // first run: empty store
        return refuse(LoadStatus::Unreadable, std::strerror(errno));
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) return refuse(LoadStatus::Unreadable, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return refuse(LoadStatus::Unreadable, "not a regular file");
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxFileBytes) return refuse(LoadStatus::Unreadable, "too large");

    // Read to the end, stopping once past the bound in case the file grows meanwhile.
    std::string text;
    char buffer[16384];
    while (text.size() <= kMaxFileBytes) {
        const ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return refuse(LoadStatus::Unreadable, std::strerror(errno));
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    if (text.size() > kMaxFileBytes) return refuse(LoadStatus::Unreadable, "too large");

    if (text.find('\0') != std::string::npos || (Parse(text) == 0 && HasContent(text)))
        return refuse(LoadStatus::NotSettings, "not a settings file");
    return LoadStatus::Loaded;
}

size_t RegistryStore::Parse(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::map<std::string, Value>* section = nullptr;
    size_t parsed = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.rfind(']');
            section = close == std::string::npos || close < 2 ? nullptr : &keys_[line.substr(1, close - 1)];
            if (section != nullptr) ++parsed;
            continue;
        }
        if (section == nullptr) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        const std::string name = line.substr(0, eq);
        const std::string rest = line.substr(eq + 1);
        if (rest.rfind("number:", 0) == 0) {
            const std::string digits = rest.substr(7);
            errno = 0;
            char* end = nullptr;
            const long long v = digits.empty() ? 0 : std::strtoll(digits.c_str(), &end, 10);
            if (digits.empty() || errno != 0 || end == nullptr || *end != '\0' || v < INT32_MIN || v > UINT32_MAX) {
                parseWarnings_.push_back(name + ": \"" + digits + "\" is not a number");
                continue;
            }
            (*section)[name] = static_cast<int32_t>(static_cast<uint32_t>(v));
            ++parsed;
        } else if (rest.rfind("text:", 0) == 0) {
            std::string value;
            if (Unescape(rest.substr(5), value)) {
                (*section)[name] = value;
                ++parsed;
            } else {
                parseWarnings_.push_back(name + ": the text does not parse");
            }
        } else {
            parseWarnings_.push_back(name + ": the value is neither number: nor text:");
        }
    }
    return parsed;
}

std::string RegistryStore::Serialize() const {
    std::string out = "# Pelloran settings. Written by the program; edit while it is not running.\n";
    for (const auto& [key, values] : keys_) {
        out += "\n[" + key + "]\n";
        for (const auto& [name, value] : values) {
            if (const auto* n = std::get_if<int32_t>(&value)) {
                out += name + "=number:" + std::to_string(*n) + "\n";
            } else {
                out += name + "=text:" + Escape(std::get<std::string>(value)) + "\n";
            }
        }
    }
    return out;
}

bool RegistryStore::Commit() const {
    if (!writable_ || path_.empty()) return false;
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path_).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    const std::optional<std::filesystem::path> target = FollowLinks(path_);
    if (!target) return false;

    // The temporary file sits beside the file it replaces, so that the rename stays within one file system.
    TempFile temp(target->string() + ".XXXXXX");
    if (!temp.fd.ok()) return false;
    const std::string text = Serialize();
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(temp.fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    if (fchmod(temp.fd.get(), 0600) != 0 || fsync(temp.fd.get()) != 0 || !temp.fd.Close()) return false;
    if (std::rename(temp.path.c_str(), target->c_str()) != 0) return false;
    temp.path.clear();  // renamed: nothing left to remove
    return true;
}

bool RegistryStore::KeyExists(const std::string& key) const { return keys_.count(key) != 0; }

void RegistryStore::CreateKey(const std::string& key) { keys_[key]; }

bool RegistryStore::HasValue(const std::string& key, const std::string& name) const {
    const auto k = keys_.find(key);
    return k != keys_.end() && k->second.count(name) != 0;
}

std::optional<int32_t> RegistryStore::ReadNumber(const std::string& key, const std::string& name) const {
    const auto k = keys_.find(key);
    if (k == keys_.end()) return std::nullopt;
    const auto v = k->second.find(name);
    if (v == k->second.end()) return std::nullopt;
    if (const auto* n = std::get_if<int32_t>(&v->second)) return *n;
    return std::nullopt;
}

std::optional<std::string> RegistryStore::ReadText(const std::string& key, const std::string& name) const {
    const auto k = keys_.find(key);
    if (k == keys_.end()) return std::nullopt;
    const auto v = k->second.find(name);
    if (v == k->second.end()) return std::nullopt;
    if (const auto* s = std::get_if<std::string>(&v->second)) return *s;
    return std::nullopt;
}

void RegistryStore::WriteNumber(const std::string& key, const std::string& name, int32_t value) {
    keys_[key][name] = value;
}

void RegistryStore::WriteText(const std::string& key, const std::string& name, const std::string& value) {
    keys_[key][name] = value;
}

}  // namespace pelloran
