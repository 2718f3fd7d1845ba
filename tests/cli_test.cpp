#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

extern char** environ;

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;
using test::TempDir;

// Runs pelloran-cli with its own empty settings file and HOME inside the scratch folder.
class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        settingsFile_ = dir_ / "settings.conf";
        test::WriteBytes(settingsFile_, {});
    }
    CommandResult Cli_(std::vector<std::string> args) {
        std::vector<std::string> argv = {test::CliPath(), "-q", "--settings", settingsFile_};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, Env());
    }
    std::vector<std::string> Env() const {
        return {"HOME=" + dir_.path().string(), "XDG_CONFIG_HOME=" + (dir_ / "config"),
                "XDG_DOCUMENTS_DIR=" + (dir_ / "Documents")};
    }
    std::string Sine(const std::string& name, int rate = 44100, int channels = 2, double seconds = 0.5) {
        const std::string path = dir_ / name;
        fs::create_directories(fs::path(path).parent_path());
        test::WriteSineWav(path, rate, channels, seconds);
        return path;
    }
    TempDir dir_;
    std::string settingsFile_;
};

TEST_F(Cli, ConvertsIntoTheOutputFolderAndLeavesTheSourceUntouched) {
    const std::string src = Sine("song.wav");
    const auto before = test::ReadBytes(src);
    const auto r = Cli_({"-f", "wav", "-o", dir_ / "out", src});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, src + "\tsong.wav\n");
    EXPECT_EQ(test::ReadBytes(src), before);
    const auto audio = test::DecodeWithSndfile(dir_ / "out/song.wav");
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.samples.size(), 44100u);
}

TEST_F(Cli, CustomRateChannelsAndWidth) {
    const std::string src = Sine("in.wav", 44100, 2, 1.0);
    const auto r = Cli_({"-f", "wav", "-o", dir_ / "out", "-s", "AutoDestWAVEncodingParam=0", "-s",
                         "WAVSampleRate=22050", "-s", "WAVChannelNum=1", "-s", "WAVBitsPerSample=8", src});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto bytes = test::ReadBytes(dir_ / "out/in.wav");
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(bytes[22], 1);
    EXPECT_EQ(bytes[34], 8);
    EXPECT_EQ(bytes[24] | (bytes[25] << 8), 22050);
    EXPECT_NEAR(static_cast<double>(bytes.size() - 44), 22050.0, 4.0);  // one second, tail kept
}

TEST_F(Cli, CollisionPolicies) {
    const std::string src = Sine("a.wav");
    const std::string out = dir_ / "out";
    EXPECT_EQ(Cli_({"-f", "wav", "-o", out, src}).out, src + "\ta.wav\n");
    EXPECT_EQ(Cli_({"-f", "wav", "-o", out, src}).out, src + "\ta_1.wav\n");
    const auto skipped = Cli_({"-f", "wav", "-o", out, "-s", "TargetExistsOpt=33", src});
    EXPECT_EQ(skipped.out, src + "\tTarget exists and skipped\n");
    EXPECT_EQ(skipped.exitCode, 0);  // a skipped file counts as done
    const auto overwritten = Cli_({"-f", "wav", "-o", out, "-s", "TargetExistsOpt=22", src});
    EXPECT_EQ(overwritten.out, src + "\ta.wav\n");
    EXPECT_EQ(overwritten.exitCode, 0);
    // Beside the source, WAV into WAV: overwriting would destroy the source.
    const auto same = Cli_({"-f", "wav", "-s", "DestOutputFolderOpt=199", "-s", "TargetExistsOpt=22", src});
    EXPECT_EQ(same.out, src +
                            "\tTarget file name is same as original file that can't be overwritten. Please output "
                            "files to a custom folder.\n");
    const auto renamed = Cli_({"-f", "wav", "-s", "DestOutputFolderOpt=199", src});
    EXPECT_EQ(renamed.out, src + "\ta_1.wav\n");
    EXPECT_TRUE(fs::exists(dir_ / "a_1.wav"));
}

TEST_F(Cli, FailuresAndFallback) {
    const std::string bad = dir_ / "bad.wav";
    test::WriteBytes(bad, std::vector<uint8_t>(300, 0x55));
    const std::string dat = dir_ / "movie.dat";
    test::WriteBytes(dat, std::vector<uint8_t>(300, 0x55));
    const std::string src = Sine("ok.wav");
    auto r = Cli_({"-f", "wav", "-o", dir_ / "out", bad, dat, src});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, bad + "\tFailed to load\n" + dat + "\tFailed to load\n" + src + "\tok.wav\n");
    EXPECT_NE(r.err.find("DAT files"), std::string::npos);

    // A saved output folder that takes no files: the documents folder takes the output when the fallback is on.
    const std::vector<std::string> saved = {"-s", "DestOutputFolderOpt=399", "-s", "DestSpecifiedFolder=/proc/1"};
    std::vector<std::string> args = {"-f", "wav", "-s", "OutputFiles2MyDocuments=0", src};
    args.insert(args.begin(), saved.begin(), saved.end());
    r = Cli_(args);
    EXPECT_EQ(r.out, src + "\tFailed to create file \"/proc/1/ok.wav\"\n");
    args = {"-f", "wav", src};
    args.insert(args.begin(), saved.begin(), saved.end());
    r = Cli_(args);
    EXPECT_EQ(r.out, src + "\tok.wav\n");
    EXPECT_TRUE(fs::exists(dir_ / "Documents/ok.wav"));
}

TEST_F(Cli, JsonLinesFolderInputAndJobsKeepInputOrder) {
    std::vector<std::string> sources;
    for (int i = 0; i < 6; ++i) sources.push_back(Sine("album/t" + std::to_string(i) + ".wav", 22050, 1, 0.2 + 0.1 * i));
    test::WriteBytes(dir_ / "album/notes.txt", {'h', 'i'});
    const auto r = Cli_({"-f", "wav", "-o", dir_ / "out", "-j", "3", "--json", "-s", "EnableExtFilter=1", "-s",
                         "FilterExts=WAV", dir_ / "album"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    size_t i = 0;
    while (std::getline(lines, line)) {
        const auto j = nlohmann::json::parse(line);
        if (j.contains("summary")) {
            EXPECT_EQ(j["converted"], sources.size());
            continue;
        }
        ASSERT_LT(i, sources.size());
        EXPECT_EQ(j["source"], sources[i]);
        EXPECT_EQ(j["ok"], true);
        EXPECT_EQ(j["target"], dir_ / "out" + ("/t" + std::to_string(i) + ".wav"));
        EXPECT_TRUE(line.rfind("{\"source\"", 0) == 0);  // keys in the documented order
        ++i;
    }
    EXPECT_EQ(i, sources.size());  // the .txt file was filtered out
}

TEST_F(Cli, ProbeColumns) {
    const std::string src = Sine("p.wav", 48000, 1, 2.0);
    test::WriteBytes(dir_ / "junk.wav", std::vector<uint8_t>(64, 1));
    auto r = Cli_({"--probe", src, dir_ / "junk.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, src + "\t00:02\t768 kbps\t48000 Hz\tMono\n" + (dir_ / "junk.wav") + "\tFailed to load\n");
    r = Cli_({"--probe", "--json", "--decoder", "wav", src});
    ASSERT_EQ(r.exitCode, 0);
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["sample_rate"], 48000);
    EXPECT_EQ(j["channels"], 1);
    EXPECT_EQ(j["duration_seconds"], 2);
    EXPECT_EQ(j["format_code"], 2000);
    EXPECT_EQ(j["reader"], "wav");
}

TEST_F(Cli, UsageErrors) {
    const std::string src = Sine("u.wav");
    EXPECT_EQ(Cli_({"-s", "NoSuchOption=1", src}).exitCode, 2);
    EXPECT_EQ(Cli_({"-s", "MP3BitRate=fast", src}).exitCode, 2);
    EXPECT_EQ(Cli_({"-s", "novalue", src}).exitCode, 2);
    EXPECT_EQ(Cli_({"-f", "ape", src}).exitCode, 2);
    EXPECT_EQ(Cli_({"--decoder", "nope", src}).exitCode, 2);
    EXPECT_EQ(Cli_({}).exitCode, 2);
    const auto help = test::Run({test::CliPath(), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--output-dir"), std::string::npos);
    // The settings file named with --settings is read, never written.
    EXPECT_TRUE(test::ReadBytes(settingsFile_).empty());
}

TEST_F(Cli, InterruptCancelsAndRemovesThePartialFile) {
    // Four minutes to Vorbis take seconds, so the conversion is still running when Ctrl+C arrives.
    const std::string src = Sine("long.wav", 44100, 2, 240.0);
    const std::string out = dir_ / "out";
    std::vector<std::string> args = {test::CliPath(), "-q", "--settings", settingsFile_, "-f", "ogg", "-o", out, src};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outFile = dir_ / "stdout.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // Ctrl+C at its default action, as in a terminal, whatever this test was started with.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    // Wait until the work file exists, then interrupt.
    bool started = false;
    for (int i = 0; i < 200 && !started; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(out, ec)) started |= e.path().filename().string()[0] == '.';
    }
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    // It ends by the signal itself, so that a shell sees the interrupt.
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    const auto printed = test::ReadBytes(outFile);
    EXPECT_EQ(std::string(printed.begin(), printed.end()), src + "\tCancelled\n");
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(out, ec)) << "nothing may be left in the output folder";
}

// FFmpeg and its ~140 libraries load only for jobs that need them: the dynamic loader's own log tells.
TEST_F(Cli, FfmpegLoadsOnlyWhenAJobNeedsIt) {
    const std::string wav = Sine("plain.wav");
    struct Case {
        std::vector<std::string> args;
        bool loads;
    };
    const Case cases[] = {
        {{"--version"}, false},
        {{"-f", "ogg", "-o", dir_ / "out", wav}, false},
        {{"-f", "m4a", "-o", dir_ / "out", wav}, true},  // AAC is FFmpeg's encoder
        {{"-f", "flac", "-o", dir_ / "flac", wav}, false},
        {{"-f", "wav", "-o", dir_ / "back", dir_ / "flac/plain.flac"}, false},  // read by libFLAC
        {{"-f", "wav", "-o", dir_ / "fromogg", dir_ / "out/plain.ogg"}, false},  // one rate: no resampler
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {test::CliPath(), "-q", "--settings", settingsFile_};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::vector<std::string> env = Env();
        env.push_back("LD_DEBUG=files");
        const auto r = test::Run(argv, env);
        EXPECT_EQ(r.exitCode, 0) << c.args.front() << r.err;
        EXPECT_EQ(r.err.find("file=libavcodec.so") != std::string::npos, c.loads) << c.args.front();
    }
}

}  // namespace
}  // namespace pelloran
