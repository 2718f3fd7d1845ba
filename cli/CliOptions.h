#pragma once
// Command line of pelloran-cli.

#include <optional>
#include <string>
#include <vector>

namespace pelloran::cli {

struct CliOptions {
    std::string format;                  // -f
    std::string outputDir;               // -o
    std::vector<std::string> sets;       // -s NAME=VALUE
    std::vector<std::string> tags;       // --tag NAME=VALUE
    std::string settingsFile;            // --settings
    std::string decoder;                 // --decoder
    int jobs = 0;                        // -j (0: number of processors)
    std::optional<int> bitrate;          // -b kbit/s
    std::optional<int> rate;             // --rate Hz
    std::optional<int> channels;         // --channels 1|2
    std::optional<int> quality;          // --quality
    bool overwrite = false;              // -y
    bool noOverwrite = false;            // -n
    bool allFiles = false;               // --all-files
    bool noCue = false;                  // --no-cue
    bool keepTree = false;               // --keep-tree
    std::optional<std::string> name;     // --name PATTERN
    bool dryRun = false;
    bool verify = false;                 // --verify: decode each output again and compare it with the source
    std::string replayGain;              // --replaygain track|album|off
    std::optional<int> normalize;        // --normalize LUFS
    std::optional<int> truePeak;         // --true-peak dBTP
    bool trustTags = false;              // --trust-tags
    bool loudness = false;               // --loudness (with --probe)
    std::string filesFrom;               // --files-from FILE ("-": standard input)
    bool nulSeparated = false;           // -0
    std::string shard;                   // --shard K/N
    std::string base;                    // --base DIR: with --keep-tree, the tree of named files starts here
    std::string report;                  // --report FILE.jsonl: one line per failed input
    std::optional<int> maxFailures;      // --max-failures N: up to N failures still exit 0
    std::string mirror;                  // --mirror SRC_DIR
    bool prune = false;                  // --prune (with --mirror)
    bool copyLossy = false;              // --copy-lossy (with --mirror)
    std::string copyOther;               // --copy-other PATTERNS (with --mirror)
    std::string inputFormat;             // --input-format EXT: what standard input ("-") holds
    bool listSettings = false;
    bool listFormats = false;
    bool probe = false;
    bool json = false;
    bool quiet = false;
    std::vector<std::string> paths;
};

// Parses argv; returns the exit code to end with (help, version, usage error), or nothing to go on.
std::optional<int> ParseCommandLine(int argc, char** argv, CliOptions& options);

// Parses "K/N" (1 <= K <= N); false when malformed.
bool ParseShard(const std::string& text, int& k, int& n);

}  // namespace pelloran::cli
