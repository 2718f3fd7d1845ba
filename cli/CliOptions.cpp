#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>

#include <iostream>

#include "settings/ConvertSettings.h"

namespace pelloran::cli {

namespace {

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : " ") + name;
    return text;
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, CliOptions& options) {
    CLI::App app{"Converts audio files into one output format with the saved options of Pelloran.",
                 "pelloran-cli"};
    app.set_version_flag("--version", std::string("pelloran-cli ") + PELLORAN_VERSION);
    const std::vector<std::string> formats = OutputFormatNames();
    const std::vector<std::string> readers = ReaderNames();
    app.add_option("-f,--format", options.format, "Output format: " + Joined(formats))
        ->check(CLI::IsMember(formats, CLI::ignore_case));
    app.add_option("-o,--output-dir", options.outputDir, "Write into this folder");
    app.add_option("-s,--set", options.sets, "Override one option for this run: NAME=VALUE (repeatable)")
        ->allow_extra_args(false);
    app.add_option("--settings", options.settingsFile, "Read the options from this file (never written)")
        ->check(CLI::ExistingFile);
    app.add_option("--decoder", options.decoder, "Try this reader first: " + Joined(readers))
        ->check(CLI::IsMember(readers, CLI::ignore_case));
    app.add_option("-j,--jobs", options.jobs, "Convert up to N files at once (default: processors)")
        ->check(CLI::Range(1, 64));
    app.add_flag("--probe", options.probe, "Convert nothing; print each file's list columns");
    app.add_flag("--json", options.json, "One JSON object per line");
    app.add_flag("-q,--quiet", options.quiet, "No progress display");
    app.add_option("PATH", options.paths, "Files or folders (a folder adds every file below it)")->required();
    app.footer(
        "Output lines: SOURCE<TAB>STATUS (the target's name on success).\n"
        "Examples:\n"
        "  pelloran-cli -f wav -o out/ song.mp3\n"
        "  pelloran-cli -f mp3 -s MP3BitRate=192 -s MP3Tag.Artist=Ana ~/Music/album\n"
        "  pelloran-cli --probe --json *.flac\n"
        "Exit status: 0 all converted, 1 some failed, 2 usage error.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    return std::nullopt;
}

}  // namespace pelloran::cli
