#pragma once
// pelloran-cli --mirror, the failure report (--report) and the exit status that --max-failures shapes.

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "cli/CliOptions.h"
#include "cli/Output.h"
#include "settings/ConvertSettings.h"

namespace pelloran::cli {

// --report FILE.jsonl: one JSON line per input that failed, written as each fails.
class FailureReport {
public:
    FailureReport() = default;
    ~FailureReport();
    FailureReport(const FailureReport&) = delete;
    FailureReport& operator=(const FailureReport&) = delete;
    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }
    void Add(const std::string& jsonLine);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

// 0 when everything converted or was skipped, or when no more inputs failed than maxFailures allows; else 1.
int ExitStatus(const Counts& counts, std::optional<int> maxFailures);

// --mirror SRC_DIR -o DEST_DIR: converts what is new or changed, copies, prunes, and keeps the manifest.
int RunMirror(const CliOptions& options, ConvertSettings& settings);

}  // namespace pelloran::cli
