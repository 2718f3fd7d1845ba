// pelloran-cli: converts files with the saved options on the same engine as the window.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

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
    // Standard input and output go through a private folder. With -o - the one output is copied to standard
    // output once complete, and everything else printed (lines, summary, a library's words) goes to standard error.
    StreamFolder streams;
    const bool fromStdin = options.paths.size() == 1 && options.paths[0] == "-";
    const bool toStdout = options.outputDir == "-";
    OwnedFd audioOut;
    if (fromStdin && isatty(STDIN_FILENO)) return UsageError("-: standard input is a terminal; pipe a file into it");
    if (toStdout && isatty(STDOUT_FILENO))
        return UsageError("-o -: standard output is a terminal; send it to a file or a pipe");
    // The handlers first: a stop signal from here on removes the private folder.
    if (fromStdin || toStdout) CliProgress::InstallInterruptHandler();
    if ((fromStdin || toStdout) && !options.listSettings && !streams.Create()) {
        std::cerr << "pelloran-cli: no private folder in $TMPDIR: " << std::strerror(errno) << "\n";
        return 1;
    }
    if (toStdout) {
        std::fflush(stdout);
        audioOut.Reset(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
        if (audioOut.get() < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
            std::cerr << "pelloran-cli: standard output: " << std::strerror(errno) << "\n";
            return 1;
        }
        options.outputDir = streams.OutputFolder();
    }
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
    if (fromStdin) {
        std::string error;
        const std::string spooled = streams.SpoolStandardInput(
            ToLowerAscii(options.inputFormat), [&progress] { return progress.CancelRequested(); }, error);
        if (progress.CancelRequested()) {
            streams.Remove();
            return CliProgress::EndInterrupted(kExitInterrupted);
        }
        if (spooled.empty()) {
            std::cerr << "pelloran-cli: standard input: " << EscapeText(error) << "\n";
            return 1;
        }
        inputs = {spooled};
    }

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

    if (toStdout && entries.size() != 1 && !progress.CancelRequested())
        return UsageError("-o - writes one file: give exactly one input file, not " + std::to_string(entries.size()));
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
    CliObserver observer(printer, progress, lineOf, pointers, options.json, options.dryRun,
                         report.IsOpen() ? &report : nullptr);
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
    counts.Add(run);
    counts.cancelled += neverReached;
    // The finished output, whole, to standard output; a reader gone away (`| head -c 100`) is a closed pipe.
    if (toStdout && run.converted == 1 && !progress.CancelRequested() &&
        !CopyFileTo(pointers[0]->targetPath, audioOut.get())) {
        const int error = errno;
        std::cerr << "pelloran-cli: standard output: " << std::strerror(error) << " (the file was not written whole)\n";
        ++counts.failed;
        --counts.converted;
    }
    audioOut.Reset();
    if (options.json) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::cout << SummaryLine(counts, elapsed, options.dryRun) << std::endl;
    }
    streams.Remove();
    if (progress.CancelRequested()) return CliProgress::EndInterrupted(kExitInterrupted);
    return ExitStatus(counts, options.maxFailures);
}

}  // namespace
}  // namespace pelloran::cli

int main(int argc, char** argv) { return pelloran::cli::Main(argc, argv); }
