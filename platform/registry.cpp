#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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

bool RegistryStore::Load(const std::string& path) {
    keys_.clear();
    path_ = path;
    writable_ = true;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) return true;  // first run: empty store
    if (!std::filesystem::is_regular_file(status) || std::filesystem::file_size(path, ec) > kMaxFileBytes || ec) {
        writable_ = false;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        writable_ = false;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        keys_.clear();
        writable_ = false;
        return false;
    }
    Parse(text.str());
    return true;
}

void RegistryStore::Parse(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::map<std::string, Value>* section = nullptr;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.rfind(']');
            section = close == std::string::npos || close < 2 ? nullptr : &keys_[line.substr(1, close - 1)];
            continue;
        }
        if (section == nullptr) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        const std::string name = line.substr(0, eq);
        const std::string rest = line.substr(eq + 1);
        if (rest.rfind("number:", 0) == 0) {
            const std::string digits = rest.substr(7);
            if (digits.empty()) continue;
            errno = 0;
            char* end = nullptr;
            const long long v = std::strtoll(digits.c_str(), &end, 10);
            if (errno != 0 || end == nullptr || *end != '\0' || v < INT32_MIN || v > UINT32_MAX) continue;
            (*section)[name] = static_cast<int32_t>(static_cast<uint32_t>(v));
        } else if (rest.rfind("text:", 0) == 0) {
            std::string value;
            if (Unescape(rest.substr(5), value)) (*section)[name] = value;
        }
    }
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
    const std::filesystem::path target(path_);
    std::error_code ec;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    std::string tmpl = path_ + ".XXXXXX";
    const int fd = mkstemp(tmpl.data());
    if (fd < 0) return false;
    const std::string text = Serialize();
    size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ok = ok && fchmod(fd, 0600) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = std::rename(tmpl.c_str(), path_.c_str()) == 0;
    if (!ok) unlink(tmpl.c_str());
    return ok;
}

bool RegistryStore::KeyExists(const std::string& key) const { return keys_.count(key) != 0; }

void RegistryStore::CreateKey(const std::string& key) { keys_[key]; }

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
