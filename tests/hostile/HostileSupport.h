#pragma once
// Fixture of the hostile suite: pelloran-cli end to end with its own empty settings, HOME and documents
// folder inside a scratch folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace pelloran::test {

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        settingsFile_ = dir_ / "settings.conf";
        WriteBytes(settingsFile_, {});
    }
    // Runs pelloran-cli quietly with the scratch settings; args follow.
    CommandResult Cli(std::vector<std::string> args) const {
        std::vector<std::string> argv = {CliPath(), "-q", "--settings", settingsFile_};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, Env());
    }
    std::vector<std::string> Env() const {
        return {"HOME=" + dir_.path().string(), "XDG_CONFIG_HOME=" + (dir_ / "config"),
                "XDG_DOCUMENTS_DIR=" + (dir_ / "Documents")};
    }
    // A 16-bit sine WAV at dir_/name (folders made as needed).
    std::string Sine(const std::string& name, int rate = 44100, int channels = 2, double seconds = 0.5) const {
        const std::string path = dir_ / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteSineWav(path, rate, channels, seconds);
        return path;
    }
    // Names in a folder, sorted (hidden work files included).
    std::vector<std::string> Names(const std::string& folder) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
    std::string settingsFile_;
};

}  // namespace pelloran::test
