// The hostile suite: what a careless user or an attacker does to the program, end to end through
// pelloran-cli. Cases of other kinds live in the files of tests/hostile/.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/hostile/HostileSupport.h"

extern char** environ;

namespace pelloran::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string FromBase64(const std::string& text) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const size_t v = alphabet.find(c);
        if (v == std::string::npos) break;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if ((count += 6) >= 8) out += static_cast<char>((bits >> (count -= 8)) & 0xFF);
    }
    return out;
}

// A pelloran-cli started in the background; stdout goes to a pipe or a file.
class Background {
public:
    Background(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& outFile) {
        std::vector<std::string> strings = args;
        std::vector<char*> argv;
        for (auto& a : strings) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStrings;
        for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
        envStrings.insert(envStrings.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (auto& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (outFile.empty()) {
            if (pipe(pipe_) == 0) {
                posix_spawn_file_actions_adddup2(&actions, pipe_[1], 1);
                posix_spawn_file_actions_addclose(&actions, pipe_[0]);
            }
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (pipe_[1] >= 0) close(pipe_[1]);
    }
    ~Background() {
        if (pipe_[0] >= 0) close(pipe_[0]);
        if (pid_ > 0) Wait();
    }
    // Waits until the program catches SIGINT (its handlers are in place).
    void WaitForHandlers() const {
        for (int i = 0; i < 500; ++i) {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) & 2u) != 0) return;
            }
            std::this_thread::sleep_for(2ms);
        }
    }
    void Signal(int signal) const { kill(pid_, signal); }
    // Reads one line from the stdout pipe, then closes the pipe's read end.
    std::string ReadLineAndClose() {
        std::string line;
        char c = 0;
        while (read(pipe_[0], &c, 1) == 1 && c != '\n') line += c;
        close(pipe_[0]);
        pipe_[0] = -1;
        return line;
    }
    // Exit code, or 128 + signal.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int pipe_[2] = {-1, -1};
};

// Waits until folder holds a hidden work file (a conversion is under way).
void WaitForWorkFile(const std::string& folder) {
    for (int i = 0; i < 500; ++i) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (e.path().filename().string().rfind(".pelloran-", 0) == 0) return;
        std::this_thread::sleep_for(10ms);
    }
}

bool HasWorkFiles(const std::string& folder) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.path().filename().string().rfind(".pelloran-", 0) == 0) return true;
    return false;
}

// 1. Identity, not path strings, decides "target is the source" and duplicates.
TEST_F(Hostile, SourceIsNeverReplacedThroughALink) {
    const std::string src = Sine("self/a.wav");
    const auto before = ReadBytes(src);
    fs::create_directory_symlink(dir_ / "self", dir_ / "self-link");
    auto r = Cli({"-f", "wav", "-s", "TargetExistsOpt=22", "-s", "AutoDestWAVEncodingParam=0", "-s",
                  "WAVSampleRate=8000", "-o", dir_ / "self-link", src, dir_ / "self-link/a.wav"});
    EXPECT_EQ(r.exitCode, 1);
    // One file reached twice is converted once; the second name gets a line of its own.
    ASSERT_EQ(Lines(r.out).size(), 2u) << r.out;
    EXPECT_NE(Lines(r.out)[0].find("same as original file"), std::string::npos) << r.out;
    EXPECT_NE(Lines(r.out)[1].find("Duplicate of an earlier input"), std::string::npos) << r.out;
    EXPECT_EQ(ReadBytes(src), before);
    EXPECT_EQ(Names(dir_ / "self"), std::vector<std::string>{"a.wav"});

    // A different file whose name differs only in case is no source: it is overwritten.
    const std::string upper = Sine("case/B.WAV", 8000, 1);
    const std::string lower = Sine("case/B.wav", 22050, 1);
    r = Cli({"-f", "wav", "-s", "DestOutputFolderOpt=199", "-s", "TargetExistsOpt=22", upper});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(DecodeWithSndfile(lower).rate, 8000);
}

// 2. Targets that collide inside one run, across processes, and at a dangling link.
TEST_F(Hostile, TargetsWrittenInARunAreNeverOverwritten) {
    std::vector<std::string> args = {"-f", "wav", "-s", "TargetExistsOpt=22", "-j", "3", "-o", dir_ / "out"};
    for (int i = 0; i < 11; ++i) args.push_back(Sine("d" + std::to_string(i) + "/x.wav", 8000, 1, 0.1));
    const auto r = Cli(args);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    std::vector<std::string> expected = {"x.wav"};
    for (int i = 1; i < 11; ++i) expected.push_back("x_" + std::to_string(i) + ".wav");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir_ / "out"), expected);

    // A dangling link at the target's name is an existing target, never written through.
    fs::create_directories(dir_ / "out2");
    fs::create_symlink(dir_ / "elsewhere.wav", dir_ / "out2/y.wav");
    EXPECT_EQ(Cli({"-f", "wav", "-o", dir_ / "out2", Sine("y.wav")}).out, dir_ / "y.wav" + "\ty_1.wav\n");
    EXPECT_TRUE(fs::is_symlink(dir_ / "out2/y.wav"));
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere.wav"));
}

TEST_F(Hostile, TwoProcessesRacingForOneTargetApplyThePolicyAgain) {
    const std::string src = Sine("race.wav", 44100, 2, 20.0);
    const std::string out = dir_ / "out";
    for (const auto& [policy, names, codes] :
         {std::tuple{"11", std::vector<std::string>{"race.wav", "race_1.wav"}, std::vector<int>{0, 0}},
          std::tuple{"33", std::vector<std::string>{"race.wav"}, std::vector<int>{0, 0}}}) {
        fs::remove_all(out);
        fs::create_directories(out);
        const std::vector<std::string> args = {CliPath(), "-q", "--settings", settingsFile_, "-f", "wav", "-o", out,
                                               "-s", std::string("TargetExistsOpt=") + policy, "-s",
                                               "AutoDestWAVEncodingParam=0", "-s", "WAVSampleRate=22050", src};
        Background a(args, Env(), dir_ / "a.txt");
        Background b(args, Env(), dir_ / "b.txt");
        std::vector<int> exits = {a.Wait(), b.Wait()};
        std::sort(exits.begin(), exits.end());
        EXPECT_EQ(exits, codes) << policy;
        EXPECT_EQ(Names(out), names) << policy;
        const auto printed = ReadBytes(dir_ / "a.txt");
        EXPECT_EQ(std::string(printed.begin(), printed.end()).find("Conversion Failure"), std::string::npos);
    }
}

// 3. ".." is resolved as the shell resolves it, for sources and for -o.
TEST_F(Hostile, DotDotFollowsLinksLikeTheShell) {
    Sine("real/x.wav", 22050, 1);
    Sine("x.wav", 8000, 1);  // what a lexical "deep-link/.." would wrongly name
    fs::create_directories(dir_ / "real/deep");
    fs::create_directory_symlink(dir_ / "real/deep", dir_ / "deep-link");
    const auto r = Cli({"-f", "wav", "-o", dir_ / "deep-link/../out", dir_ / "deep-link/../x.wav"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, dir_ / "real/x.wav" + "\tx.wav\n");
    EXPECT_EQ(DecodeWithSndfile(dir_ / "real/out/x.wav").rate, 22050);
}

// 4. FIFOs, devices and sockets are never opened.
TEST_F(Hostile, OnlyRegularFilesAreOpened) {
    const std::string good = Sine("d/b.wav");
    ASSERT_EQ(mkfifo((dir_ / "d/a.wav").c_str(), 0600), 0);
    const auto r = Cli({"-f", "wav", "-o", dir_ / "out", dir_ / "d", "/dev/zero"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, dir_ / "d/a.wav" + "\tNot a regular file\n" + good + "\tb.wav\n/dev/zero\tNot a regular file\n");
}

// 6. Settings out of range: a usage error that names the range; on load, the default.
TEST_F(Hostile, SettingsOutOfRange) {
    const std::string src = Sine("s.wav", 8000, 1, 0.2);
    for (const char* set : {"WAVSampleRate=2147483647", "OutputFormat=12345", "AMRMode=99", "AWBMode=-1",
                            "AACMpegVersion=9", "TargetExistsOpt=0"}) {
        const auto r = Cli({"-f", "wav", "-o", dir_ / "out", "-s", set, src});
        EXPECT_EQ(r.exitCode, 2) << set;
        EXPECT_NE(r.err.find(" must be "), std::string::npos) << set << ": " << r.err;
    }
    EXPECT_NE(Cli({"-s", "WAVSampleRate=2147483647", src}).err.find("0 to 384000"), std::string::npos);
    std::ofstream(settingsFile_) << "[Options]\nAutoDestWAVEncodingParam=0\nWAVSampleRate=2147483647\nWAVChannelNum=1\n";
    EXPECT_EQ(Cli({"-f", "wav", "-o", dir_ / "out", src}).exitCode, 0);
    EXPECT_EQ(DecodeWithSndfile(dir_ / "out/s.wav").rate, 44100);
}

// 7. An explicit -o is never replaced by the documents folder, and wins over the settings.
TEST_F(Hostile, ExplicitOutputFolderIsNeverReplaced) {
    const std::string src = Sine("o.wav");
    WriteBytes(dir_ / "blocker", {});
    auto r = Cli({"-f", "wav", "-o", dir_ / "blocker/out", src});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, src + "\tFailed to create folder \"" + (dir_ / "blocker/out") + "\"\n");
    EXPECT_FALSE(fs::exists(dir_ / "Documents/o.wav"));
    r = Cli({"-f", "wav", "-s", "DestOutputFolderOpt=199", "-o", dir_ / "out", src});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(fs::exists(dir_ / "out/o.wav"));
}

// 8. Hang-up and a closed pipe act as Ctrl+C; work files of killed runs are swept.
TEST_F(Hostile, SignalsLeaveNoWorkFiles) {
    // Two minutes to Vorbis take about a second, so each run is still converting when the signal comes.
    const std::string src = Sine("long.wav", 44100, 2, 120.0);
    {
        const std::string out = dir_ / "hup";
        std::vector<std::string> args = {CliPath(), "-q", "--settings", settingsFile_, "-f", "ogg", "-o", out, src};
        Background cli(args, Env(), dir_ / "hup.txt");
        WaitForWorkFile(out);
        cli.Signal(SIGHUP);
        EXPECT_NE(cli.Wait(), 0);
        EXPECT_FALSE(HasWorkFiles(out));
    }
    {
        const std::string out = dir_ / "pipe";
        std::vector<std::string> args = {CliPath(), "-q", "--settings", settingsFile_, "-f", "ogg", "-j", "2",
                                         "-o", out, Sine("short.wav", 8000, 1, 0.1)};
        for (int i = 0; i < 3; ++i) {
            fs::create_directories(dir_ / ("c" + std::to_string(i)));
            fs::copy_file(src, dir_ / ("c" + std::to_string(i) + "/long.wav"));
            args.push_back(dir_ / ("c" + std::to_string(i) + "/long.wav"));
        }
        Background cli(args, Env(), "");
        EXPECT_NE(cli.ReadLineAndClose().find("short.wav"), std::string::npos);
        EXPECT_NE(cli.Wait(), 0);
        EXPECT_FALSE(HasWorkFiles(out));
    }
    // A work file whose lock is free is swept by the next run into its folder; a locked one stays.
    const std::string out = dir_ / "sweep";
    fs::create_directories(out);
    WriteBytes(out + "/.pelloran-stale1.wav", {1, 2, 3});
    WriteBytes(out + "/.pelloran-alive.wav", {1, 2, 3});
    const timespec old[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
    utimensat(AT_FDCWD, (out + "/.pelloran-stale1.wav").c_str(), old, 0);
    utimensat(AT_FDCWD, (out + "/.pelloran-alive.wav").c_str(), old, 0);
    const int held = open((out + "/.pelloran-alive.wav").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    EXPECT_EQ(Cli({"-f", "wav", "-o", out, Sine("z.wav", 8000, 1, 0.1)}).exitCode, 0);
    EXPECT_EQ(Names(out), (std::vector<std::string>{".pelloran-alive.wav", "z.wav"}));
    close(held);
}

// 10. An unreadable source says why; a --settings file that is none is a usage error.
TEST_F(Hostile, UnreadableInputsGiveTheReason) {
    const std::string wav = Sine("w.wav", 8000, 1, 0.1);
    const auto notSettings = test::Run({CliPath(), "--settings", wav, "-o", dir_ / "out", wav}, Env());
    EXPECT_EQ(notSettings.exitCode, 2);
    EXPECT_NE(notSettings.err.find("--settings"), std::string::npos) << notSettings.err;
    EXPECT_FALSE(fs::exists(dir_ / "out"));

    fs::create_symlink(dir_ / "loop-b.wav", dir_ / "loop-a.wav");
    fs::create_symlink(dir_ / "loop-a.wav", dir_ / "loop-b.wav");
    auto r = Cli({"-f", "wav", "-o", dir_ / "out", dir_ / "loop-a.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Too many levels of symbolic links"), std::string::npos) << r.err;
    if (geteuid() != 0) {  // root reads everything
        const std::string src = Sine("secret.wav");
        chmod(src.c_str(), 0);
        r = Cli({"-f", "wav", "-o", dir_ / "out", src});
        EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
    }
}

// 11. Ctrl+C while files are probed: those not probed yet are cancelled, not "Failed to load".
TEST_F(Hostile, InterruptWhileProbingCancels) {
    std::vector<uint8_t> wav;
    {
        const std::string one = Sine("one.wav", 8000, 1, 0.01);
        wav = ReadBytes(one);
        fs::remove(one);
    }
    fs::create_directories(dir_ / "many");
    std::vector<std::string> args = {CliPath(), "-q", "--settings", settingsFile_, "-f", "wav", "-j", "1",
                                     "-o", dir_ / "out"};
    for (int i = 0; i < 3000; ++i) {
        args.push_back(dir_ / ("many/" + std::to_string(i) + ".wav"));
        WriteBytes(args.back(), wav);
    }
    Background cli(args, Env(), dir_ / "out.txt");
    cli.WaitForHandlers();
    cli.Signal(SIGINT);
    EXPECT_NE(cli.Wait(), 0);
    const auto bytes = ReadBytes(dir_ / "out.txt");
    const std::string printed(bytes.begin(), bytes.end());
    EXPECT_EQ(printed.find("Failed to load"), std::string::npos);
    EXPECT_NE(printed.find("\tCancelled"), std::string::npos);
}

// 13. Names with control characters cannot break the lines or reach the terminal; JSON keeps any name.
TEST_F(Hostile, NamesAreEscaped) {
    const std::string name = "a\tb\nc\x1b[31m\r\\d.wav";
    const std::string src = Sine(name, 8000, 1, 0.1);
    auto r = Cli({"-f", "wav", "-o", dir_ / "out", src});
    EXPECT_EQ(r.exitCode, 0);
    const std::string escaped = "a\\tb\\nc\\x1b[31m\\r\\\\d.wav";
    EXPECT_EQ(r.out, dir_ / escaped + "\t" + escaped + "\n");

    const std::string latin1 = Sine("caf\xe9.wav", 8000, 1, 0.1);
    r = Cli({"-f", "wav", "--json", "-o", dir_ / "out", latin1});
    const auto j = nlohmann::json::parse(r.out.substr(0, r.out.find('\n')));
    EXPECT_EQ(FromBase64(j["source_bytes"].get<std::string>()), latin1);
    EXPECT_EQ(FromBase64(j["target_bytes"].get<std::string>()), dir_ / "out/caf\xe9.wav");
}

}  // namespace
}  // namespace pelloran::test
