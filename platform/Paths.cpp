#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "media/TagRecord.h"

namespace pelloran {

std::string FileNamePart(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtensionPart(std::string_view path) {
    const std::string name = FileNamePart(path);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string{} : name.substr(dot);
}

std::string FolderPart(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? std::string{} : std::string(path.substr(0, slash + 1));
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EnsureFolder(const std::string& path, bool create) {
    if (IsFolder(path)) return true;
    if (!create || path.empty()) return false;
    // Every prefix before a '/' must be a folder or be created; then the last level.
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string prefix = slash == std::string::npos ? path : path.substr(0, slash);
        if (!prefix.empty() && prefix != "/" && prefix.back() != '/') {
            if (!IsFolder(prefix)) {
                if (FileExists(prefix)) return false;
                if (mkdir(prefix.c_str(), 0777) != 0 && !(errno == EEXIST && IsFolder(prefix))) return false;
            }
        }
        if (slash == std::string::npos) break;
    }
    return IsFolder(path);
}

std::string ProgramFolder() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    const std::string exe(buffer, static_cast<size_t>(n));
    return FolderPart(exe);
}

namespace {

// XDG_DOCUMENTS_DIR from the environment or from ~/.config/user-dirs.dirs ("$HOME/..." expanded).
std::string XdgDocumentsDir(const std::string& home) {
    if (const char* env = std::getenv("XDG_DOCUMENTS_DIR"); env != nullptr && env[0] == '/') return env;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string dirsFile =
        (config != nullptr && config[0] == '/' ? std::string(config) : home + "/.config") + "/user-dirs.dirs";
    std::ifstream in(dirsFile);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=\"";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        const size_t quote = value.find('"');
        if (quote == std::string::npos) continue;
        value.resize(quote);
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        if (!value.empty() && value[0] == '/' && value != home && value != home + "/") return value;
    }
    return home + "/Documents";
}

}  // namespace

std::string DocumentsFolder(bool create) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return {};
    std::string folder = XdgDocumentsDir(home);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!EnsureFolder(folder, create)) return {};
    return folder;
}

std::optional<uint64_t> FileSize(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool SamePathIgnoreCase(std::string_view a, std::string_view b) { return EqualsIgnoreCase(a, b); }

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool SameFile(const std::string& a, const std::string& b) {
    const auto ia = IdentityOf(a);
    return ia && ia == IdentityOf(b);
}

bool PathOccupied(const std::string& path) {
    struct stat st {};
    return !path.empty() && lstat(path.c_str(), &st) == 0;
}

std::string ResolveFolderPath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) return path;
    const fs::path resolved = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal().string() : resolved.string();
}

std::string ResolveSourcePath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) return path;
    // A trailing "." or ".." names a folder: resolve all of it.
    const std::string last = absolute.filename().string();
    if (last.empty() || last == "." || last == "..") return ResolveFolderPath(absolute.string());
    std::string folder = ResolveFolderPath(absolute.parent_path().string());
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + last;
}

}  // namespace pelloran
