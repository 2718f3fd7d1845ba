#pragma once
// Path helpers on UTF-8 paths with '/' as the separator.

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
// Case-insensitive comparison (ASCII letters), used only as a safeguard against touching the source.
bool SamePathIgnoreCase(std::string_view a, std::string_view b);

}  // namespace pelloran
