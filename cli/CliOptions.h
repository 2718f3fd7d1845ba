#pragma once
// Command line of pelloran-cli.

#include <optional>
#include <string>
#include <vector>

#include "decode/DecoderFactory.h"

namespace pelloran::cli {

struct CliOptions {
    std::string format;                  // -f
    std::string outputDir;               // -o
    std::vector<std::string> sets;       // -s NAME=VALUE
    std::string settingsFile;            // --settings
    std::string decoder;                 // --decoder
    int jobs = 0;                        // -j (0: number of processors)
    bool probe = false;
    bool json = false;
    bool quiet = false;
    std::vector<std::string> paths;
};

// Parses argv; returns the exit code to end with (help, version, usage error), or nothing to go on.
std::optional<int> ParseCommandLine(int argc, char** argv, CliOptions& options);

}  // namespace pelloran::cli
