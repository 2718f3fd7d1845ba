// pelloran-cli: converts files with the saved options on the same engine as the window.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/AddFiles.h"
#include "app/ConversionRun.h"
#include "app/FileList.h"
#include "app/OutputNaming.h"
#include "platform/Paths.h"
#include "cli/CliOptions.h"
#include "cli/CliProgress.h"
#include "cli/TextOut.h"
#include "frontend/Wording.h"
#include "platform/MidiSource.h"
#include "platform/registry.h"
#include "settings/ConvertSettings.h"

namespace pelloran::cli {
namespace {

namespace fs = std::filesystem;

// One output line per input, printed in input order as soon as every earlier line is ready.
class OrderedPrinter {
public:
    OrderedPrinter(size_t count, CliProgress& progress) : lines_(count), ready_(count, false), progress_(progress) {}

    void Set(size_t index, std::string line) {
        std::lock_guard lock(mutex_);
        lines_[index] = std::move(line);
        ready_[index] = true;
        FlushReady();
    }

    // Prints every line still held back (entries never reached).
    void FlushAll(const std::function<std::string(size_t)>& fallback) {
        std::lock_guard lock(mutex_);
        for (size_t i = next_; i < lines_.size(); ++i) {
            if (!ready_[i]) {
                lines_[i] = fallback(i);
                ready_[i] = true;
            }
        }
        FlushReady();
    }

private:
    void FlushReady() {
        bool printed = false;
        while (next_ < lines_.size() && ready_[next_]) {
            if (!printed) {
                progress_.Lock();
                progress_.Clear();
            }
            printed = true;
            std::fputs(lines_[next_].c_str(), stdout);
            std::fputc('\n', stdout);
            ++next_;
        }
        if (printed) {
            std::fflush(stdout);
            progress_.Unlock();
        }
    }

    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<bool> ready_;
    size_t next_ = 0;
    CliProgress& progress_;
};

using Entry = AddedFile;

// JSON keeps names that are not UTF-8 recoverable: the text with replacement characters, plus the bytes.
void PutName(nlohmann::ordered_json& j, const char* key, const std::string& name) {
    j[key] = name;
    if (!IsValidUtf8(name)) j[std::string(key) + "_bytes"] = Base64(name);
}

std::string Dump(const nlohmann::ordered_json& j) {
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// The status shown for a file that was not loaded.
std::string LoadFailureStatus(const Entry& e) {
    if (!e.probed) return kStatusCancelled;
    return e.probe.notRegular ? kNotRegularFileNote : "Failed to load";
}

std::string ProbeLine(const Entry& e, bool json) {
    const FileItem& item = e.probe.item;
    if (json) {
        nlohmann::ordered_json j;
        PutName(j, "source", e.path);
        j["ok"] = e.probe.ok;
        if (e.probe.ok) {
            j["duration_seconds"] = item.durationSeconds;
            j["bitrate_kbps"] = item.bitrateKbps;
            j["sample_rate"] = item.sampleRate;
            j["channels"] = e.probe.channels;
            j["channel_mode"] = e.probe.channelMode;
            j["format_code"] = item.formatCode;
            j["reader"] = e.probe.reader ? ReaderName(*e.probe.reader) : "";
        } else {
            j["status"] = LoadFailureStatus(e);
            j["note"] = e.probe.note;
        }
        return Dump(j);
    }
    if (!e.probe.ok) return EscapeText(e.path) + "\t" + LoadFailureStatus(e);
    return EscapeText(e.path) + "\t" + DurationText(item.durationSeconds) + "\t" + BitRateText(item.bitrateKbps) + "\t" +
           FrequencyText(item.sampleRate) + "\t" + ChannelsText(item);
}

std::string ConvertLine(const std::string& source, const EntryResult& result, const std::string& status,
                        const std::string& target, bool json) {
    if (!json) return EscapeText(source) + "\t" + EscapeText(status);
    nlohmann::ordered_json j;
    PutName(j, "source", source);
    j["ok"] = result.ok;
    j["status"] = status;
    PutName(j, "target", target);
    j["note"] = result.note;
    j["truncated"] = result.truncated;
    return Dump(j);
}

std::string FailedLine(const Entry& e, bool json) {
    EntryResult result;
    result.note = e.probe.note;
    return ConvertLine(e.path, result, LoadFailureStatus(e), "", json);
}

// The run's statuses go to the ordered printer; questions are answered No (printed for the user).
class CliObserver : public RunObserver {
public:
    CliObserver(OrderedPrinter& printer, std::vector<size_t> lineOf, std::vector<FileItem*>& items, bool json)
        : printer_(printer), lineOf_(std::move(lineOf)), items_(items), statuses_(items.size()), json_(json) {}

    void SetStatus(size_t index, const std::string& text) override {
        std::lock_guard lock(mutex_);
        statuses_[index] = text;
    }
    void EntryFinished(size_t index, const EntryResult& result) override {
        std::string status;
        {
            std::lock_guard lock(mutex_);
            status = statuses_[index];
        }
        const FileItem& item = *items_[index];
        printer_.Set(lineOf_[index], ConvertLine(item.sourcePath, result, status, item.targetPath, json_));
    }
    bool Ask(Question question, const QuestionData& data) override {
        std::lock_guard lock(mutex_);
        std::cerr << EscapeText(QuestionText(question, data)) << "\n(answered No)\n";
        return false;
    }

private:
    OrderedPrinter& printer_;
    std::vector<size_t> lineOf_;
    std::vector<FileItem*>& items_;
    std::vector<std::string> statuses_;
    bool json_;
    std::mutex mutex_;
};

int Main(int argc, char** argv) {
    CliOptions options;
    if (auto code = ParseCommandLine(argc, argv, options)) return *code;

    ConvertSettings settings;
    RegistryStore store;
    const auto loaded = store.Load(options.settingsFile.empty() ? RegistryStore::DefaultPath() : options.settingsFile);
    // A settings file named on the command line must be one; the user's own file may be missing.
    if (!options.settingsFile.empty() && loaded != RegistryStore::LoadStatus::Loaded) {
        const std::string reason = loaded == RegistryStore::LoadStatus::Missing ? "No such file" : store.loadError();
        std::cerr << "pelloran-cli: --settings " << EscapeText(options.settingsFile) << ": " << EscapeText(reason)
                  << "\n";
        return 2;
    }
    LoadSettings(settings, store);
    settings.BrowseOutputFolder = 0;  // only an explicit -s BrowseOutputFolder=1 opens the file manager

    if (!options.format.empty()) settings.OutputFormat = OutputFormatFromName(options.format);
    for (const std::string& assignment : options.sets) {
        const size_t eq = assignment.find('=');
        std::string error;
        if (eq == std::string::npos || eq == 0) {
            std::cerr << "pelloran-cli: --set needs NAME=VALUE, not '" << assignment << "'\n";
            return 2;
        }
        if (!SetSettingByName(settings, assignment.substr(0, eq), assignment.substr(eq + 1), error)) {
            std::cerr << "pelloran-cli: " << error << "\n";
            return 2;
        }
    }
    // An explicit output folder wins over the settings and is never replaced by the documents folder.
    if (!options.outputDir.empty()) {
        settings.DestOutputFolderOpt = kOutputIntoFolder;
        settings.DestSpecifiedFolder = ResolveFolderPath(options.outputDir);
        settings.OutputFiles2MyDocuments = 0;
    }
    std::optional<ReaderKind> preferred;
    if (!options.decoder.empty()) preferred = ReaderFromName(options.decoder);
    const int jobs = options.jobs > 0 ? options.jobs
                                      : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));

    CliProgress::InstallInterruptHandler();
    CliProgress progress(!options.quiet);

    // The inputs as the window's list takes them: folders contribute every file below them, one file
    // reached twice is listed once, every file is probed.
    std::vector<AddPath> paths;
    for (const std::string& arg : options.paths) {
        paths.push_back({arg, IsFolder(arg) ? AddPath::Kind::Folder : AddPath::Kind::File});
    }
    PathIndex index;
    AddFilesEvents events;
    events.cancelled = [&progress] { return progress.CancelRequested(); };
    const std::vector<AddedFile> entries = AddFiles(paths, settings, index, {jobs, preferred}, events);

    OrderedPrinter printer(entries.size(), progress);
    bool anyFailed = false;
    const auto reportLoadFailure = [&](const Entry& e) {
        if (e.probed && !e.probe.note.empty()) {
            progress.Lock();
            progress.Clear();
            std::cerr << EscapeText(e.path) << ": " << EscapeText(e.probe.note) << "\n";
            progress.Unlock();
        }
    };

    if (options.probe) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].probe.ok) {
                anyFailed = true;
                reportLoadFailure(entries[i]);
            }
            printer.Set(i, ProbeLine(entries[i], options.json));
        }
        return anyFailed || progress.CancelRequested() ? 1 : 0;
    }

    std::vector<FileItem> items;
    std::vector<size_t> lineOf;
    items.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].probe.ok) {
            items.push_back(entries[i].probe.item);
            lineOf.push_back(i);
        } else {
            anyFailed = true;
            reportLoadFailure(entries[i]);
            printer.Set(i, FailedLine(entries[i], options.json));
        }
    }
    std::vector<FileItem*> pointers;
    for (auto& item : items) pointers.push_back(&item);

    RunOptions runOptions;
    runOptions.jobs = jobs;
    runOptions.preferredReader = preferred;
    runOptions.ensureSoundFont = LoadDefaultSoundFont;
    CliObserver observer(printer, lineOf, pointers, options.json);
    RunSummary summary;
    if (!pointers.empty() && !progress.CancelRequested())
        summary = RunConversion(pointers, settings, progress, observer, runOptions);
    printer.FlushAll([&](size_t line) {
        return ConvertLine(entries[line].path, EntryResult{}, kStatusCancelled, "", options.json);
    });
    progress.Clear();
    if (summary.failed > 0 || summary.cancelled || summary.aborted) anyFailed = true;
    if (summary.succeeded != items.size() || progress.CancelRequested()) anyFailed = true;
    return anyFailed ? 1 : 0;
}

}  // namespace
}  // namespace pelloran::cli

int main(int argc, char** argv) { return pelloran::cli::Main(argc, argv); }
