#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

namespace pelloran {

namespace {

// A settings file is a few kilobytes; anything far larger is not ours.
constexpr std::uintmax_t kMaxFileBytes = 4u << 20;
// A hostile file must not fill the memory with warnings.
constexpr size_t kMaxWarnings = 100;
constexpr size_t kMaxWarningName = 64;

// The first line of every file written in the plain form; it settles the form however the values look.
constexpr std::string_view kHeader =
    "# Pelloran settings: [Section] and Name=value lines. Written by the program; edit while it is not running.\n";
constexpr std::string_view kHeaderMark = "# Pelloran settings: ";
// Sections of the old typed form are named below this root.
constexpr std::string_view kLegacyRoot = "Software\\Brenthaven\\Pelloran\\";

std::string ConfigHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return std::string(home) + "/.config";
    return ".config";
}

// Plain form: only what keeps a value on its line (and the file free of NUL bytes) is escaped.
std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\0': out += "\\0"; break;
            default: out += c;
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

// Undoes Escape; the old typed form also has \t and \xHH, and no \0.
bool Unescape(std::string_view text, std::string& out, bool legacy = false) {
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
            case '0':
                if (legacy) return false;
                out += '\0';
                break;
            case 't':
                if (!legacy) return false;
                out += '\t';
                break;
            case 'x': {
                if (!legacy || i + 2 >= text.size()) return false;
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

std::string_view TrimBlanks(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Decimal, -2^31 to 2^32-1; codes above 2^31-1 wrap to the negative numbers they are stored as.
std::optional<int32_t> ParseNumber(std::string_view s) {
    s = TrimBlanks(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    int64_t v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > int64_t{UINT32_MAX}) return std::nullopt;
    }
    if (negative) v = -v;
    if (v < INT32_MIN) return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

// Section names in the file use '/' where keys use '\'.
std::string KeyOfSection(std::string_view name) {
    std::string key(name);
    std::replace(key.begin(), key.end(), '/', '\\');
    return key;
}

std::string SectionOfKey(const std::string& key) {
    std::string name = key;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::string KeyOfLegacySection(std::string_view name) {
    if (name.size() > kLegacyRoot.size() && name.substr(0, kLegacyRoot.size()) == kLegacyRoot)
        name.remove_prefix(kLegacyRoot.size());
    return KeyOfSection(name);
}

bool IsTyped(std::string_view value) {
    return value.substr(0, 7) == "number:" || value.substr(0, 5) == "text:";
}

// One line of either form, without its line end.
struct Line {
    enum Kind { Blank, Section, BadSection, Value, NoEquals } kind;
    std::string_view name;   // section name, value name, or the line itself
    std::string_view value;  // after the first '='
};

Line Classify(std::string_view line) {
    const size_t lead = line.find_first_not_of(" \t");
    if (lead == std::string_view::npos) return {Line::Blank, {}, {}};
    line.remove_prefix(lead);
    if (line[0] == '#' || line[0] == ';') return {Line::Blank, {}, {}};
    if (line[0] == '[') {
        const size_t close = line.rfind(']');
        if (close == std::string_view::npos || close < 2) return {Line::BadSection, line, {}};
        return {Line::Section, line.substr(1, close - 1), {}};
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return {Line::NoEquals, line, {}};
    return {Line::Value, TrimBlanks(line.substr(0, eq)), line.substr(eq + 1)};
}

// Calls f for each line of text, without its '\n' and a '\r' before it.
template <typename F>
void ForEachLine(std::string_view text, F&& f) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        f(line);
        start = end + 1;
    }
}

// The old typed form: a Software\... section, or typed values only. A file we wrote says it is plain.
bool IsLegacyForm(std::string_view text) {
    if (text.substr(0, kHeaderMark.size()) == kHeaderMark) return false;
    bool inSection = false, software = false;
    size_t typed = 0, plain = 0;
    ForEachLine(text, [&](std::string_view raw) {
        const Line line = Classify(raw);
        if (line.kind == Line::Section) {
            inSection = true;
            software = software || line.name.substr(0, 9) == "Software\\";
        } else if (line.kind == Line::BadSection) {
            inSection = false;
        } else if (line.kind == Line::Value && inSection) {
            ++(IsTyped(line.value) ? typed : plain);
        }
    });
    return software || (typed > 0 && plain == 0);
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
bool HasContent(std::string_view text) {
    bool content = false;
    ForEachLine(text, [&](std::string_view line) { content = content || Classify(line).kind != Line::Blank; });
    return content;
}

}  // namespace

std::string RegistryStore::DefaultPath() { return ConfigHome() + "/pelloran/pelloran.conf"; }

std::string RegistryStore::LegacyPath() { return ConfigHome() + "/Brenthaven/Pelloran.conf"; }

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
        if (errno == ENOENT) return path == DefaultPath() ? Migrate() : LoadStatus::Missing;
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

    if (text.find('\0') != std::string::npos || (Parse(text) == 0 && HasContent(text))) {
        parseWarnings_.clear();
        return refuse(LoadStatus::NotSettings, "not a settings file");
    }
    return LoadStatus::Loaded;
}

// The first start with the new place takes the old file's values and writes them there.
RegistryStore::LoadStatus RegistryStore::Migrate() {
    RegistryStore old;
    if (old.Load(LegacyPath()) != LoadStatus::Loaded) return LoadStatus::Missing;
    keys_ = std::move(old.keys_);
    parseWarnings_ = std::move(old.parseWarnings_);
    Commit();  // on failure the values still apply, and the next start tries again
    return LoadStatus::Loaded;
}

void RegistryStore::Warn(std::string_view name, const std::string& reason) {
    if (parseWarnings_.size() > kMaxWarnings) return;
    if (parseWarnings_.size() == kMaxWarnings) {
        parseWarnings_.push_back("more lines do not parse; they are not listed");
        return;
    }
    std::string text(name.substr(0, kMaxWarningName));
    if (name.size() > kMaxWarningName) text += "...";
    parseWarnings_.push_back(text + ": " + reason);
}

size_t RegistryStore::Parse(const std::string& text) {
    const bool legacy = IsLegacyForm(text);
    std::map<std::string, std::string>* section = nullptr;
    size_t parsed = 0;
    ForEachLine(text, [&](std::string_view raw) {
        const Line line = Classify(raw);
        switch (line.kind) {
            case Line::Blank: return;
            case Line::BadSection:
                section = nullptr;
                Warn(line.name, "not a section header; the values below it are ignored");
                return;
            case Line::Section:
                section = &keys_[legacy ? KeyOfLegacySection(line.name) : KeyOfSection(line.name)];
                ++parsed;
                return;
            case Line::NoEquals:
                if (section != nullptr) Warn(line.name, "not a Name=value line");
                return;
            case Line::Value: break;
        }
        if (section == nullptr || line.name.empty()) return;
        std::string value;
        if (!legacy) {
            if (!Unescape(line.value, value)) return Warn(line.name, "a broken \\ escape in the value");
        } else if (line.value.substr(0, 7) == "number:") {
            const std::string_view digits = line.value.substr(7);
            const std::optional<int32_t> n = ParseNumber(digits);
            if (!n) return Warn(line.name, "\"" + std::string(digits.substr(0, kMaxWarningName)) + "\" is not a number");
            value = std::to_string(*n);
        } else if (line.value.substr(0, 5) == "text:") {
            if (!Unescape(line.value.substr(5), value, true)) return Warn(line.name, "the text does not parse");
        } else {
            return Warn(line.name, "the value is neither number: nor text:");
        }
        (*section)[std::string(line.name)] = std::move(value);
        ++parsed;
    });
    return parsed;
}

std::string RegistryStore::Serialize() const {
    std::string out(kHeader);
    for (const auto& [key, values] : keys_) {
        out += "\n[" + SectionOfKey(key) + "]\n";
        for (const auto& [name, value] : values) out += name + "=" + Escape(value) + "\n";
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
    return ReadText(key, name).has_value();
}

std::optional<int32_t> RegistryStore::ReadNumber(const std::string& key, const std::string& name) const {
    const std::optional<std::string> text = ReadText(key, name);
    return text ? ParseNumber(*text) : std::nullopt;
}

std::optional<std::string> RegistryStore::ReadText(const std::string& key, const std::string& name) const {
    const auto k = keys_.find(key);
    if (k == keys_.end()) return std::nullopt;
    const auto v = k->second.find(name);
    if (v == k->second.end()) return std::nullopt;
    return v->second;
}

void RegistryStore::WriteNumber(const std::string& key, const std::string& name, int32_t value) {
    keys_[key][name] = std::to_string(value);
}

void RegistryStore::WriteText(const std::string& key, const std::string& name, const std::string& value) {
    keys_[key][name] = value;
}

}  // namespace pelloran
