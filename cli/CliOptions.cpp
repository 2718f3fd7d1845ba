#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>
#include <iostream>

#include "app/FileList.h"
#include "decode/DecoderFactory.h"
#include "formats/SettingsTable.h"

namespace pelloran::cli {

namespace {

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : " ") + name;
    return text;
}

constexpr const char* kFooter =
    "Each input gives one line, in input order: SOURCE<TAB>STATUS (the target's name on success); --json gives one\n"
    "object per line and a last summary object (docs/cli-output.md).\n"
    "\n"
    "Examples:\n"
    "  pelloran-cli -f wav -o out/ song.wav\n"
    "  pelloran-cli -f mp3 -b 192 --tag artist=Ana ~/Music/album/\n"
    "  pelloran-cli -f ogg -o ~/Ogg --keep-tree -n ~/Music\n"
    "  pelloran-cli -f mp3 -o out --name '{artist}/{album}/{track:02} - {title}' --dry-run ~/Music\n"
    "  find ~/Music -name '*.flac' -print0 | pelloran-cli -f opus -o out --files-from - -0\n"
    "  pelloran-cli --probe --json ~/Music/live/\n"
    "  pelloran-cli --mirror ~/Music -o ~/Phone -f opus --prune --copy-other 'cover.jpg,*.pdf'\n"
    "  pelloran-cli -f opus -o - in.flac | ssh phone 'cat > x.opus'\n"
    "  flac -dc in.flac | pelloran-cli -f mp3 -o out -\n"
    "  pelloran-cli -f opus -o out --replaygain album --normalize -16 ~/Music/album/\n"
    "\n"
    "Settings: -s NAME=VALUE sets any option by its name (any letter case; codes by name, e.g.\n"
    "TargetExistsOpt=skip); --list-settings shows them all, --list-formats the output formats.\n"
    "Exit status: 0 all converted or skipped (or at most --max-failures failed), 1 some failed, 2 usage error.\n"
    "Ctrl+C, TERM, HUP, USR1 and USR2 remove the work files, then end the program by that signal (the shell\n"
    "shows 130 for Ctrl+C).";

}  // namespace

bool ParseShard(const std::string& text, int& k, int& n) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == text.size()) return false;
    try {
        size_t used = 0;
        k = std::stoi(text.substr(0, slash), &used);
        if (used != slash) return false;
        const std::string rest = text.substr(slash + 1);
        n = std::stoi(rest, &used);
        if (used != rest.size()) return false;
    } catch (const std::exception&) {
        return false;
    }
    return n >= 1 && k >= 1 && k <= n;
}

std::optional<int> ParseCommandLine(int argc, char** argv, CliOptions& options) {
    CLI::App app{"Converts audio files into one output format with the saved options of Pelloran.",
                 "pelloran-cli"};
    app.set_version_flag("--version", std::string("pelloran-cli ") + PELLORAN_VERSION);
    // As in GNU tools, the last of a repeated option wins.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    const std::vector<std::string> formats = OutputFormatNames();
    const std::vector<std::string> readers = ReaderNames();
    app.add_option("-f,--format", options.format, "Output format: " + Joined(formats))
        ->check(CLI::IsMember(formats, CLI::ignore_case));
    app.add_option("-o,--output-dir", options.outputDir,
                   "Write into this folder (never replaced by another); '-': the one output to standard output");
    app.add_option("-b,--bitrate", options.bitrate, "Bit rate in kbit/s of the chosen format (turns its Auto off)")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--rate", options.rate, "Sample rate in Hz of the chosen format (turns its Auto off)")
        ->check(CLI::Range(1, 384000));
    app.add_option("--channels", options.channels, "Channels of the chosen format: 1 or 2 (turns its Auto off)")
        ->check(CLI::IsMember({1, 2}));
    app.add_option("--quality", options.quality, "Quality of the chosen format's quality mode");
    app.add_option("--tag", options.tags, "Set a tag on top of the source's tags: NAME=VALUE (title, artist, ...)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    app.add_option("-s,--set", options.sets, "Override one option for this run: NAME=VALUE (repeatable)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    app.add_flag("-y,--overwrite", options.overwrite, "Overwrite existing targets");
    app.add_flag("-n,--no-overwrite", options.noOverwrite, "Skip sources whose target exists (counts as done)");
    app.add_flag("--keep-tree", options.keepTree, "Rebuild the tree below each named folder in the output folder");
    app.add_option("--name", options.name,
                   "Output names from tags: '{artist}/{album}/{track:02} - {title}'; also {stem} {ext} {format} "
                   "{parent}, fallbacks as {artist|Unknown}");
    app.add_flag("--no-cue", options.noCue, "Convert an album with a CUE sheet as one file, not as its tracks");
    app.add_flag("--all-files", options.allFiles, "Folders contribute every file, not only known media files");
    app.add_flag("--dry-run", options.dryRun, "Show every target and what would happen; write nothing");
    app.add_flag("--verify", options.verify,
                 "Decode each output again and check its length (a WAV's samples too) against the source");
    app.add_option("--replaygain", options.replayGain,
                   "Write ReplayGain tags measured while converting (Opus: R128 gains): track, album or off")
        ->check(CLI::IsMember({"track", "album", "off"}, CLI::ignore_case));
    app.add_option("--normalize", options.normalize,
                   "Bring each output (with --replaygain album: each album) to this loudness in LUFS, e.g. -16")
        ->check(CLI::Range(-70, -1));
    app.add_option("--true-peak", options.truePeak,
                   "With --normalize: the highest true peak in dBTP (default -1); a limiter holds peaks under it")
        ->check(CLI::Range(-20, 0));
    app.add_flag("--trust-tags", options.trustTags,
                 "With --normalize: take a source's ReplayGain or R128 tags for its loudness instead of measuring");
    app.add_flag("--loudness", options.loudness,
                 "With --probe: measure each file's loudness (LUFS), loudness range, true and sample peak");
    app.add_option("--files-from", options.filesFrom, "Read input paths from FILE, one a line ('-': stdin)");
    app.add_flag("-0,--null", options.nulSeparated, "With --files-from: names end with NUL, not a line feed");
    app.add_option("--shard", options.shard, "Convert only part K of N of the inputs (stable by path): K/N");
    app.add_option("--base", options.base, "With --keep-tree: the tree of files named one by one starts here");
    app.add_option("--report", options.report, "Write one JSON line per input that failed into FILE");
    app.add_option("--max-failures", options.maxFailures, "Exit 0 while at most N inputs failed (list them with --report)")
        ->check(CLI::Range(0, INT32_MAX));
    app.add_option("--mirror", options.mirror,
                   "Keep -o DIR a converted copy of this folder: only new and changed files convert")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--prune", options.prune, "With --mirror: remove what the mirror made for sources now gone");
    app.add_flag("--copy-lossy", options.copyLossy,
                 "With --mirror: copy lossy sources of the same or lower quality as they are");
    app.add_option("--copy-other", options.copyOther,
                   "With --mirror: also copy these files, e.g. 'cover.jpg,folder.jpg,*.pdf'");
    app.add_option("--settings", options.settingsFile, "Read the options from this file (never written)")
        ->check(CLI::ExistingFile);
    app.add_option("--decoder", options.decoder, "Try this reader first: " + Joined(readers))
        ->check(CLI::IsMember(ReaderNames(true), CLI::ignore_case));
    app.add_option("-j,--jobs", options.jobs, "Convert up to N files at once (default: processors)")
        ->check(CLI::Range(1, 64));
    app.add_flag("--list-settings", options.listSettings, "Print every setting: type, range, default, value");
    app.add_flag("--list-formats", options.listFormats,
                 "Print every output format: name, extensions, lossless, most channels, tags, label");
    app.add_flag("--probe", options.probe, "Convert nothing; print each file's list columns");
    app.add_flag("--json", options.json, "One JSON object per line");
    app.add_flag("-q,--quiet", options.quiet, "No progress display");
    app.add_option("--input-format", options.inputFormat,
                   "What standard input (-) holds, by extension: flac, wav, mp3... (default: found from its content)");
    app.add_option("PATH", options.paths,
                   "Files or folders (a folder adds the media files below it); '-' alone: standard input")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.footer(kFooter);
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
    const auto usage = [](const std::string& text) {
        std::cerr << "pelloran-cli: " << text << "\nRun with --help for more information.\n";
        return 2;
    };
    if (options.paths.empty() && options.filesFrom.empty() && options.mirror.empty() && !options.listSettings &&
        !options.listFormats)
        return usage("no input: name files or folders, or use --files-from");
    if (options.overwrite && options.noOverwrite) return usage("-y and -n cannot both be given");
    int k = 0, n = 0;
    if (!options.shard.empty() && !ParseShard(options.shard, k, n))
        return usage("--shard needs K/N with 1 <= K <= N, not '" + options.shard + "'");
    if (options.nulSeparated && options.filesFrom.empty()) return usage("-0 needs --files-from");
    if (options.loudness && !options.probe) return usage("--loudness needs --probe");
    if (!options.mirror.empty() && (options.outputDir.empty() || !options.paths.empty() || !options.filesFrom.empty()))
        return usage("--mirror SRC_DIR needs -o DEST_DIR and no other inputs");
    const bool fromStdin = std::find(options.paths.begin(), options.paths.end(), "-") != options.paths.end();
    if (fromStdin && (options.paths.size() > 1 || !options.filesFrom.empty() || !options.mirror.empty()))
        return usage("- (standard input) must be the only input");
    if (!options.inputFormat.empty() && !fromStdin)
        return usage("--input-format needs - (standard input) as the input");
    if (!options.inputFormat.empty() && (options.inputFormat.find('/') != std::string::npos ||
                                         !IsKnownSourceExtension("x." + options.inputFormat)))
        return usage("--input-format: no reader takes '" + options.inputFormat + "' files");
    if (options.outputDir == "-" && !options.mirror.empty()) return usage("--mirror needs -o DEST_DIR, not -o -");
    if (options.mirror.empty() && (options.prune || options.copyLossy || !options.copyOther.empty()))
        return usage("--prune, --copy-lossy and --copy-other need --mirror");
    return std::nullopt;
}

}  // namespace pelloran::cli
