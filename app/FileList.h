#pragma once
// The engine side of the file list: probing a file into an entry, the column texts, folder scans
// with the extension filter, and the duplicate check.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/FileItem.h"
#include "decode/DecoderFactory.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// What probing one file found.
struct ProbeOutcome {
    bool ok = false;
    FileItem item;
    std::string note;                     // why the file was refused (may be empty)
    std::optional<ReaderKind> reader;     // the reader that opened it
    int channels = 0;                     // source channels, also for MP3
    int channelMode = 4;
};

// Opens path with a reader in probe mode and fills the entry as the list shows it.
ProbeOutcome ProbeFile(const std::string& path, std::optional<ReaderKind> preferred = std::nullopt);

// Column texts; "" where the value is unknown.
std::string DurationText(uint32_t seconds);
std::string BitRateText(uint32_t kbps);
std::string FrequencyText(uint32_t hz);
std::string ChannelsText(const FileItem& item);

// Paths already in the list, compared as canonical paths (Linux names are case-sensitive).
class PathIndex {
public:
    // False when the path is already present; otherwise records it.
    bool Insert(const std::string& path);
    void Erase(const std::string& path);
    void Clear() { paths_.clear(); }
    bool Contains(const std::string& path) const;
    size_t size() const { return paths_.size(); }

private:
    static std::string Key(const std::string& path);
    std::set<std::string> paths_;
};

// Every file below folder (subfolders included, links followed with cycles cut), through the filter step.
void ScanFolder(std::vector<std::string>& out, const std::string& folder, const ConvertSettings& settings);
// The filter step of dropped and scanned files: true when path is taken (path may be replaced by a link's target).
bool FilterStep(std::string& path, const ConvertSettings& settings);

// Notes for files the list refuses.
extern const char* const kDatFileNote;
extern const char* const kCdaFromDiskNote;
extern const char* const kFlashFileNote;

}  // namespace pelloran
