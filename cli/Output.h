#pragma once
// What pelloran-cli prints: one line per input in input order, as text or JSON (docs/cli-output.md); standard
// input and output as a source and a target.

#include <cstddef>
#include <cstdint>
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
class FailureReport;

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
    void Add(const Counts& other);
};
// The last JSON object of a run.
std::string SummaryLine(const Counts& counts, double elapsedSeconds, bool dryRun);

// A run as pelloran-cli shows it: each entry's line in input order, its note on standard error (text mode), the
// progress line and the failure report; questions are answered No.
class CliObserver : public RunObserver {
public:
    // lineOf: the printer's line of each entry; report: --report, or null.
    CliObserver(OrderedPrinter& printer, CliProgress& progress, std::vector<size_t> lineOf,
                std::vector<FileItem*>& items, bool json, bool dryRun, FailureReport* report);

    void SetStatus(size_t index, const EntryStatus& status) override;
    void EntryProgress(size_t index, double fraction) override;
    void EntryFinished(size_t index, const EntryResult& result) override;
    bool Ask(Question question, const QuestionData& data) override;
    Counts counts();

protected:
    // An entry ended, before its line is printed (a mirror records what converted).
    virtual void Finishing(size_t index, const FileItem& item, const EntryResult& result) {
        (void)index;
        (void)item;
        (void)result;
    }

private:
    OrderedPrinter& printer_;
    CliProgress& progress_;
    std::vector<size_t> lineOf_;
    std::vector<FileItem*>& items_;
    std::vector<EntryStatus> statuses_;
    bool json_;
    bool dryRun_;
    FailureReport* report_;
    Counts counts_;
    std::mutex mutex_;
};

}  // namespace pelloran::cli

namespace pelloran::cli {

// An owned file descriptor (-1: none).
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd();
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int get() const { return fd_; }
    void Reset(int fd = -1);

private:
    int fd_;
};

// Standard input as the only source ("-") and standard output as the target ("-o -"). Readers seek and writers
// seek back to fix headers, so both go through a private folder in $TMPDIR (or /tmp): the input spooled from the
// pipe, the output written there and copied out once complete. The folder goes on every way out: a return,
// Ctrl+C and the other stop signals, a second signal.
class StreamFolder {
public:
    StreamFolder() = default;
    ~StreamFolder() { Remove(); }
    StreamFolder(const StreamFolder&) = delete;
    StreamFolder& operator=(const StreamFolder&) = delete;

    // False with errno.
    bool Create();
    // Where the output is written.
    std::string OutputFolder() const { return path_ + "/out"; }
    // Reads standard input to its end into the folder as "stdin" with the extension of extension (without the
    // dot) or, when empty, of what the content is; "" with the reason (a failure of the system, or an unknown
    // content) in error.
    std::string SpoolStandardInput(const std::string& extension, const std::function<bool()>& cancelled,
                                   std::string& error);
    void Remove();

private:
    std::string path_;
};

// The extension (".flac") of the audio file whose first bytes head holds, "" when unknown. readAt(offset, size)
// gives more of the file where a leading tag (ID3v2) hides the content.
std::string SniffAudioExtension(const std::function<std::string(uint64_t, size_t)>& readAt);

// Copies the file at path to fd; false with errno (EPIPE when the reading end went away).
bool CopyFileTo(const std::string& path, int fd);

}  // namespace pelloran::cli
