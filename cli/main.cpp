// pelloran-cli: converts files with the saved options on the same engine as the window.

#include <climits>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/AddFiles.h"
#include "app/ConversionRun.h"
#include "app/FileList.h"
#include "app/LoudnessPass.h"
#include "app/OutputNaming.h"
#include "cli/CliOptions.h"
#include "cli/CliProgress.h"
#include "app/Mirror.h"
#include "cli/Mirror.h"
#include "cli/Output.h"
#include "cli/TextOut.h"
#include "frontend/Wording.h"
#include "platform/Paths.h"
#include "platform/SoundFont.h"
#include "platform/registry.h"
#include "formats/SettingsTable.h"

namespace pelloran::cli {
namespace {

constexpr int kExitInterrupted = 130;

int UsageError(const std::string& text) {
    std::cerr << "pelloran-cli: " << EscapeText(text) << "\n";
    return 2;
}

// The run's statuses go to the ordered printer and the progress line; questions are answered No.
class CliObserver : public RunObserver {
public:
    CliObserver(OrderedPrinter& printer, CliProgress& progress, std::vector<size_t> lineOf,
                std::vector<FileItem*>& items, bool json, bool dryRun)
        : printer_(printer), progress_(progress), lineOf_(std::move(lineOf)), items_(items),
          statuses_(items.size()), json_(json), dryRun_(dryRun) {}

    void SetStatus(size_t index, const EntryStatus& status) override {
        std::lock_guard lock(mutex_);
        statuses_[index] = status;
        if (status.state == EntryState::Converting)
            progress_.EntryStarted(index, FileNamePart(items_[index]->sourcePath));
    }
    void EntryProgress(size_t index, double fraction) override { progress_.EntryProgress(index, fraction); }
    void EntryFinished(size_t index, const EntryResult& result) override {
        EntryStatus status;
        StatusCode code = StatusCode::Failed;
        {
            std::lock_guard lock(mutex_);
            status = statuses_[index];
            if (result.ok) code = dryRun_ ? StatusCode::Planned : StatusCode::Converted;
            else if (result.skipped) code = StatusCode::Skipped;
            else if (result.notLoaded) code = StatusCode::NotLoaded;
            else if (status.state == EntryState::Cancelled) code = StatusCode::Cancelled;
            counts_.Add(code);
        }
        progress_.EntryFinished(index);
        const FileItem& item = *items_[index];
        // Text mode: what a user should know of an entry also goes to standard error, as sox and flac warn.
        if (!json_ && !result.note.empty() && code != StatusCode::Cancelled) {
            progress_.Lock();
            progress_.Clear();
            std::cerr << EscapeText(item.sourcePath) << ": " << EscapeText(NoteText(result.note)) << "\n";
            progress_.Unlock();
        }
        const std::string target = code == StatusCode::NotLoaded ? std::string{} : item.targetPath;
        printer_.Set(lineOf_[index], ConvertLine(item.sourcePath, code, status, target, result, json_));
        if (report != nullptr && (code == StatusCode::Failed || code == StatusCode::NotLoaded))
            report->Add(ConvertLine(item.sourcePath, code, status, target, result, true));
    }
    bool Ask(Question question, const QuestionData& data) override {
        std::lock_guard lock(mutex_);
        std::cerr << EscapeText(QuestionText(question, data)) << "\n(answered No)\n";
        return false;
    }
    Counts counts() {
        std::lock_guard lock(mutex_);
        return counts_;
    }
    FailureReport* report = nullptr;  // --report

private:
    OrderedPrinter& printer_;
    CliProgress& progress_;
    std::vector<size_t> lineOf_;
    std::vector<FileItem*>& items_;
    std::vector<EntryStatus> statuses_;
    bool json_;
    bool dryRun_;
    Counts counts_;
    std::mutex mutex_;
};

// Applies the command line over the loaded settings; an exit code on a usage error.
std::optional<int> ApplyOptions(const CliOptions& options, ConvertSettings& settings) {
    settings.BrowseOutputFolder = 0;  // only an explicit -s BrowseOutputFolder=1 opens the file manager
    if (!options.format.empty()) settings.OutputFormat = OutputFormatFromName(options.format);
    std::vector<std::string> named;
    for (const std::string& assignment : options.sets) {
        const size_t eq = assignment.find('=');
        std::string error;
        if (eq == std::string::npos || eq == 0) return UsageError("--set needs NAME=VALUE, not '" + assignment + "'");
        if (!SetSettingByName(settings, assignment.substr(0, eq), assignment.substr(eq + 1), error))
            return UsageError(error);
        named.push_back(assignment.substr(0, eq));
    }
    // An explicit output folder wins over the settings and is never replaced by the documents folder.
    if (!options.outputDir.empty()) {
        settings.DestOutputFolderOpt = kOutputIntoFolder;
        settings.DestSpecifiedFolder = ResolveFolderPath(options.outputDir);
        settings.OutputFiles2MyDocuments = 0;
    }
    if (options.overwrite) settings.TargetExistsOpt = kTargetOverwrite;
    if (options.noOverwrite) settings.TargetExistsOpt = kTargetSkip;
    if (options.name) settings.OutputNamePattern = *options.name;
    if (options.verify) settings.VerifyOutput = 1;
    if (!options.replayGain.empty()) {
        const std::string mode = ToLowerAscii(options.replayGain);
        settings.ReplayGainMode = mode == "album" ? kGainTagsAlbum : mode == "track" ? kGainTagsTrack : kGainTagsOff;
    }
    if (options.normalize) settings.NormalizeTarget = *options.normalize;
    if (options.truePeak) settings.TruePeakCeiling = *options.truePeak;
    settings.trustGainTags = options.trustTags;
    const std::pair<const std::optional<int>&, FormatControl> controls[] = {
        {options.bitrate, FormatControl::BitRate},
        {options.rate, FormatControl::Rate},
        {options.channels, FormatControl::Channels},
        {options.quality, FormatControl::Quality},
    };
    for (const auto& [value, control] : controls) {
        std::string error;
        if (value && !ApplyFormatControl(settings, control, *value, error)) return UsageError(error);
    }
    for (const std::string& assignment : options.tags) {
        const size_t eq = assignment.find('=');
        std::string error;
        if (eq == std::string::npos || eq == 0) return UsageError("--tag needs NAME=VALUE, not '" + assignment + "'");
        if (!ApplyTagOverride(settings, assignment.substr(0, eq), assignment.substr(eq + 1), error))
            return UsageError(error);
    }
    if (!settings.OutputNamePattern.empty()) {
        // A malformed pattern is a usage error, not a failure of every file.
        // Every field filled: "{artist}.{title}" is a name; only what the pattern itself says is judged here.
        FileItem sample;
        sample.sourcePath = "/a/b.wav";
        for (const auto& tag : kTagFieldNames) sample.tags.*tag.field = "x";
        sample.tags.Track = "1";
        std::string name;
        Note error;
        if (!ExpandNamePattern(settings.OutputNamePattern, sample, settings.OutputFormat, name, error))
            return UsageError(NoteText(error));
    }
    for (const SettingProblem& warning : IneffectiveSettings(settings, named))
        std::cerr << "pelloran-cli: warning: " << SettingProblemText(warning) << "\n";
    return std::nullopt;
}

int ListSettings(const ConvertSettings& settings, bool json) {
    for (const SettingInfo& s : DescribeSettings(settings)) {
        if (json) {
            nlohmann::ordered_json j = {{"name", s.name},          {"type", s.type},
                                        {"range", s.range},        {"default", s.defaultValue},
                                        {"value", s.currentValue}, {"meaning", s.meaning}};
            std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
        } else {
            std::cout << s.name << "\t" << s.type << "\t" << s.range << "\t" << EscapeText(s.defaultValue) << "\t"
                      << EscapeText(s.currentValue) << "\t" << s.meaning << "\n";
        }
    }
    return 0;
}

int ListFormats(bool json) {
    for (const OutputFormatInfo& format : OutputFormats()) std::cout << FormatLine(format, json) << "\n";
    return 0;
}

// Input paths from --files-from: one a line, or NUL-separated; the reason when the list cannot be taken.
// No entry may be longer than a path can be, and a stream of empty entries (/dev/zero) counts as one.
std::optional<std::string> ReadFileList(const std::string& from, bool nul, std::vector<std::string>& out) {
    std::ifstream file;
    std::istream* in = &std::cin;
    if (from != "-") {
        file.open(from, std::ios::binary);
        if (!file) return std::string("cannot be read");
        in = &file;
    }
    const char separator = nul ? '\0' : '\n';
    const std::string tooLong = "an entry longer than " + std::to_string(PATH_MAX) + " bytes";
    std::string line;
    size_t emptyRun = 0;
    for (std::streambuf* buffer = in->rdbuf();;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof() || c == separator) {
            if (!nul && !line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) {
                out.push_back(std::move(line));
                emptyRun = 0;
            } else if (c != std::char_traits<char>::eof() && ++emptyRun > PATH_MAX) {
                return tooLong;
            }
            line.clear();
            if (c == std::char_traits<char>::eof()) break;
            continue;
        }
        if (line.size() >= PATH_MAX) return tooLong;
        line += static_cast<char>(c);
    }
    return std::nullopt;
}

// A folder as the user's shell would show it: ~ for the home folder.
std::string HomeShort(const std::string& folder) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return folder;
    std::string prefix = home;
    if (prefix.back() != '/') prefix += '/';
    if (folder + "/" == prefix || folder == prefix) return "~";
    return folder.rfind(prefix, 0) == 0 ? "~/" + folder.substr(prefix.size()) : folder;
}

int Main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    CliOptions options;
    if (auto code = ParseCommandLine(argc, argv, options)) return *code;
    // Before the settings are read: the build runs it to make the completions and the installed texts.
    if (options.listFormats) return ListFormats(options.json);

    ConvertSettings settings;
    RegistryStore store;
    const auto loaded = store.Load(options.settingsFile.empty() ? RegistryStore::DefaultPath() : options.settingsFile);
    // A settings file named on the command line must be one; the user's own file may be missing.
    if (!options.settingsFile.empty() && loaded != RegistryStore::LoadStatus::Loaded) {
        const std::string reason = loaded == RegistryStore::LoadStatus::Missing ? "No such file" : store.loadError();
        return UsageError("--settings " + options.settingsFile + ": " + reason);
    }
    std::vector<std::string> settingWarnings = store.parseWarnings();
    std::vector<SettingProblem> loadWarnings;
    LoadSettings(settings, store, &loadWarnings);
    for (const SettingProblem& warning : loadWarnings) settingWarnings.push_back(SettingProblemText(warning));
    for (const std::string& warning : settingWarnings)
        std::cerr << "pelloran-cli: warning: " << EscapeText(store.path()) << ": " << EscapeText(warning)
                  << "; the default applies\n";
    if (auto code = ApplyOptions(options, settings)) return *code;
    if (options.listSettings) return ListSettings(settings, options.json);
    if (!options.mirror.empty()) return RunMirror(options, settings);

    std::vector<std::string> inputs = options.paths;
    if (!options.filesFrom.empty()) {
        if (const auto error = ReadFileList(options.filesFrom, options.nulSeparated, inputs))
            return UsageError("--files-from " + options.filesFrom + ": " + *error);
    }
    if (inputs.empty()) return UsageError("No inputs");
    std::optional<ReaderKind> preferred;
    if (!options.decoder.empty()) preferred = ReaderFromName(options.decoder);
    const int jobs = options.jobs > 0 ? options.jobs
                                      : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));

    CliProgress::InstallInterruptHandler();
    CliProgress progress(!options.quiet);

    // The inputs as the window's list takes them: folders contribute the media files below them, one file
    // reached twice is listed once, every file is probed.
    std::vector<AddPath> paths;
    for (const std::string& input : inputs)
        paths.push_back({input, IsFolder(input) ? AddPath::Kind::Folder : AddPath::Kind::File});
    PathIndex index;
    AddFilesEvents events;
    events.cancelled = [&progress] { return progress.CancelRequested(); };
    AddFilesOptions addOptions{jobs, preferred, {!options.allFiles, !options.allFiles, {}},
                               !settings.OutputNamePattern.empty(), true};
    // A conversion opens each source once, in its own reading: the list is probed only where the probe's
    // findings are printed or named from (--probe, --dry-run, names from tags).
    addOptions.openReaders = options.probe || options.dryRun || !settings.OutputNamePattern.empty();
    addOptions.cue = !options.noCue;
    // A folder scan never takes the run's own outputs (a re-run with the output folder inside the input).
    if (settings.DestOutputFolderOpt == kOutputIntoFolder) addOptions.scan.excludeFolder = settings.DestSpecifiedFolder;
    int shardK = 0, shardN = 0;
    if (!options.shard.empty()) {
        ParseShard(options.shard, shardK, shardN);
        // Only this machine's part is probed: the rest is left out before any file is opened.
        events.accept = [=](const std::string& path) {
            return StablePathHash(path) % static_cast<uint64_t>(shardN) == static_cast<uint64_t>(shardK - 1);
        };
    }
    // Each file keeps the tree below the outermost folder named that holds it, whatever the order named; names
    // are settled over the whole list, so that every shard and every re-run names a source alike.
    addOptions.keepTree = options.keepTree;
    addOptions.treeBase = options.base;
    SettledNames settled;
    events.listed = [&](std::vector<FileItem>& whole) {
        std::vector<FileItem*> pointers;
        for (FileItem& item : whole) pointers.push_back(&item);
        settled = SettleNames(pointers, settings);
    };
    std::vector<AddedFile> entries = AddFiles(paths, settings, index, addOptions, events);
    // Said once: files go to the saved folder, not beside their sources nor to a folder named here.
    if (options.outputDir.empty() && settings.DestOutputFolderOpt == kOutputIntoFolder && !options.probe &&
        !entries.empty())
        std::cerr << "Writing into " << EscapeText(HomeShort(settings.DestSpecifiedFolder))
                  << " (the saved output folder; -o DIR to choose)\n";

    OrderedPrinter printer(entries.size(), progress);
    Counts counts;
    FailureReport report;
    if (!options.report.empty() && !report.Open(options.report))
        return UsageError("--report " + options.report + ": cannot be written");
    const auto reportLoadFailure = [&](const AddedFile& e) {
        if (e.probed && !e.probe.note.empty()) {
            progress.Lock();
            progress.Clear();
            std::cerr << EscapeText(e.path) << ": " << EscapeText(NoteText(e.probe.note)) << "\n";
            progress.Unlock();
        }
    };

    if (options.probe) {
        // Loudness decodes every file: on the jobs, printed in input order as each is ready.
        std::vector<std::optional<LoudnessResult>> loudness(entries.size());
        std::atomic<size_t> next{0};
        std::mutex reportMutex;
        std::atomic<bool> anyFailed{false};
        const auto probeWorker = [&] {
            for (size_t i; (i = next.fetch_add(1)) < entries.size() && !progress.CancelRequested();) {
                const AddedFile& e = entries[i];
                if (!e.probe.ok && !e.duplicate) {
                    anyFailed = true;
                    std::lock_guard lock(reportMutex);
                    reportLoadFailure(e);
                }
                if (options.loudness && e.probe.ok && !e.duplicate) {
                    const FileItem& item = e.probe.item;
                    loudness[i] = MeasureSource(item.sourcePath, item.formatCode, item.cue ? &*item.cue : nullptr,
                                                preferred, [&progress] { return progress.CancelRequested(); });
                }
                printer.Set(i, ProbeLine(e, options.json, options.loudness ? &loudness[i] : nullptr));
            }
        };
        std::vector<std::thread> workers;
        for (int t = 1; options.loudness && t < jobs && static_cast<size_t>(t) < entries.size(); ++t)
            workers.emplace_back(probeWorker);
        probeWorker();
        for (auto& worker : workers) worker.join();
        if (progress.CancelRequested()) return CliProgress::EndInterrupted(kExitInterrupted);
        return anyFailed ? 1 : 0;
    }

    std::vector<FileItem> items;
    std::vector<size_t> lineOf;
    items.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].duplicate) {
            counts.Add(StatusCode::Skipped);
            printer.Set(i, DuplicateLine(entries[i], options.json));
        } else if (entries[i].probe.ok) {
            items.push_back(entries[i].probe.item);
            lineOf.push_back(i);
        } else {
            reportLoadFailure(entries[i]);
            counts.Add(entries[i].probed ? StatusCode::NotLoaded : StatusCode::Cancelled);
            printer.Set(i, NotLoadedLine(entries[i], options.json));
            if (entries[i].probed) report.Add(NotLoadedLine(entries[i], true));
        }
    }
    std::vector<FileItem*> pointers;
    for (auto& item : items) pointers.push_back(&item);

    RunOptions runOptions;
    runOptions.jobs = jobs;
    runOptions.preferredReader = preferred;
    runOptions.ensureSoundFont = LoadDefaultSoundFont;
    runOptions.dryRun = options.dryRun;
    runOptions.sourcesProbed = addOptions.openReaders;
    runOptions.settledNames = &settled;
    CliObserver observer(printer, progress, lineOf, pointers, options.json, options.dryRun);
    if (report.IsOpen()) observer.report = &report;
    progress.SetRunRange(static_cast<int>(pointers.size()));
    if (!pointers.empty() && !progress.CancelRequested())
        RunConversion(pointers, settings, progress, observer, runOptions);
    size_t neverReached = 0;
    printer.FlushAll([&](size_t line) {
        ++neverReached;
        return ConvertLine(entries[line].path, StatusCode::Cancelled, {EntryState::Cancelled, {}, {}}, "",
                           EntryResult{}, options.json);
    });
    progress.Clear();
    const Counts run = observer.counts();
    counts.converted += run.converted;
    counts.planned += run.planned;
    counts.skipped += run.skipped;
    counts.failed += run.failed;
    counts.notLoaded += run.notLoaded;
    counts.cancelled += run.cancelled + neverReached;
    if (options.json) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::cout << SummaryLine(counts, elapsed, options.dryRun) << std::endl;
    }
    if (progress.CancelRequested()) return CliProgress::EndInterrupted(kExitInterrupted);
    return ExitStatus(counts, options.maxFailures);
}

}  // namespace
}  // namespace pelloran::cli

int main(int argc, char** argv) { return pelloran::cli::Main(argc, argv); }
