#pragma once
// What pelloran-cli prints: one line per input in input order, as text or JSON (docs/cli-output.md).

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/AddFiles.h"
#include "app/ConversionRun.h"
#include "formats/SettingsTable.h"
#include "platform/Loudness.h"

namespace pelloran::cli {

class CliProgress;

// Machine values of an entry's outcome (status_code).
enum class StatusCode { Converted, Planned, Skipped, Failed, Cancelled, NotLoaded };
const char* StatusCodeName(StatusCode code);

// One output line per input, printed in input order as soon as every earlier line is ready.
class OrderedPrinter {
public:
    OrderedPrinter(size_t count, CliProgress& progress);
    void Set(size_t index, std::string line);
    // Prints every line still held back (entries never reached), made by fallback.
    void FlushAll(const std::function<std::string(size_t)>& fallback);

private:
    void FlushReady();

    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<bool> ready_;
    size_t next_ = 0;
    CliProgress& progress_;
};

// A conversion's line: "SOURCE<TAB>STATUS", or its JSON object.
std::string ConvertLine(const std::string& source, StatusCode code, const EntryStatus& status,
                        const std::string& target, const EntryResult& result, bool json);
// A named file already listed earlier in this run: skipped, with its reason.
std::string DuplicateLine(const AddedFile& file, bool json);
// The line of a file that was not loaded (or never probed after Cancel).
std::string NotLoadedLine(const AddedFile& file, bool json);
// A probe's line: the list's columns, or its JSON object; with loudness (--loudness) its measures after them.
std::string ProbeLine(const AddedFile& file, bool json, const std::optional<LoudnessResult>* loudness = nullptr);

// An output format's line: NAME<TAB>EXTENSIONS<TAB>LOSSLESS<TAB>MAX_CHANNELS<TAB>TAGS<TAB>LABEL (extensions
// joined by commas, yes/no), or its JSON object.
std::string FormatLine(const OutputFormatInfo& format, bool json);

struct Counts {
    size_t converted = 0, planned = 0, skipped = 0, failed = 0, cancelled = 0, notLoaded = 0;
    void Add(StatusCode code);
};
// The last JSON object of a run.
std::string SummaryLine(const Counts& counts, double elapsedSeconds, bool dryRun);

}  // namespace pelloran::cli
