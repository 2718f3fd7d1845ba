#pragma once
// Windows shortcut (".lnk") files: a bounded reader of the target path they record.

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelloran {

// What a shortcut file records about its target; empty texts where the file has none.
struct ShortcutInfo {
    std::string localPath;     // LinkInfo local base path followed by its common path suffix (Windows form)
    std::string relativePath;  // the relative path string (from the shortcut's folder)
};

// Parses a shortcut held in memory. False for anything that is not a well-formed shortcut; every size and
// offset is checked against the data, so hostile input gives false and nothing else.
bool ParseShortcut(const uint8_t* data, size_t size, ShortcutInfo& info);

// Maps a Windows path recorded in a shortcut to a local path: "Z:\x" (the whole file system under Wine)
// gives "/x", another drive letter is looked up among Wine's drive links, backslashes become '/'.
// "" when there is no mapping.
std::string MapWindowsPath(const std::string& windowsPath);

// Resolves the shortcut file at path to an existing target. False (target empty) when the file cannot be
// read or parsed or its target does not exist here.
bool ResolveShortcut(const std::string& path, std::string& target);

}  // namespace pelloran
