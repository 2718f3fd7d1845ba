#pragma once
// Path helpers on UTF-8 paths with '/' as the separator.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelloran {

// Text after the last '/', or the whole path.
std::string FileNamePart(std::string_view path);
// Text from the last full stop of the file-name part (dot included), or "".
std::string ExtensionPart(std::string_view path);
// Folder part with its trailing '/', or "" when the path has no '/'.
std::string FolderPart(std::string_view path);
// True when the path exists (files and folders alike; a dangling link does not).
bool FileExists(const std::string& path);
bool IsFolder(const std::string& path);
// True when path is an existing folder; with create, makes every missing level first.
bool EnsureFolder(const std::string& path, bool create);
// Folder of the running executable with a trailing '/', or "".
std::string ProgramFolder();
// The user's documents folder (XDG_DOCUMENTS_DIR, else ~/Documents), created when asked; "" when unavailable.
std::string DocumentsFolder(bool create);
// Full size of a file, or nothing when it cannot be read.
std::optional<uint64_t> FileSize(const std::string& path);
// Case-insensitive comparison (ASCII letters).
bool SamePathIgnoreCase(std::string_view a, std::string_view b);

// A file's identity: device and inode after following links.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    auto operator<=>(const FileIdentity&) const = default;
};
// Identity of the file a path reaches, or nothing when it reaches none.
std::optional<FileIdentity> IdentityOf(const std::string& path);
// True when both paths reach the same existing file.
bool SameFile(const std::string& a, const std::string& b);
// True when something is at path, a dangling symbolic link included.
bool PathOccupied(const std::string& path);

// An absolute path with "." and ".." resolved through the file system, as the shell would open it. The
// last component is kept as named (a link stays a link); the folders above it are resolved.
std::string ResolveSourcePath(const std::string& path);
// An absolute folder path: the existing part resolved through the file system, the rest normalised.
std::string ResolveFolderPath(const std::string& path);

}  // namespace pelloran
