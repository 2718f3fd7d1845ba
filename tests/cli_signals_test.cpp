// Signals as a shell expects them: pelloran-cli removes its work files and then dies by the signal that stopped
// it; a signal ignored when it started stays ignored; a closed output pipe still ends it with status 130.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace pelloran {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A child process started as a shell would start it: the signals of the run at their default action except
// those named to be ignored, stdin from /dev/null, stdout to a file (or a pipe when none is named).
class Child {
public:
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& outFile,
          std::vector<int> ignored = {}) {
        std::vector<std::string> strings = args;
        std::vector<char*> argv;
        for (auto& a : strings) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStrings = env;
        for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);  // the first one wins
        std::vector<char*> envp;
        for (auto& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (outFile.empty() && pipe(pipe_) != 0) return;
        pid_ = fork();
        if (pid_ != 0) {
            if (pipe_[1] >= 0) close(pipe_[1]);
            return;
        }
        // Only async-signal-safe calls from here to exec.
        struct sigaction action {};
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGPIPE}) {
            action.sa_handler = SIG_DFL;
            for (const int ignore : ignored) {
                if (ignore == signal) action.sa_handler = SIG_IGN;
            }
            sigaction(signal, &action, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = open("/dev/null", O_RDONLY);
        const int out = outFile.empty() ? pipe_[1] : open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (pipe_[0] >= 0) close(pipe_[0]);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ~Child() {
        if (pipe_[0] >= 0) close(pipe_[0]);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
    }
    pid_t pid() const { return pid_; }
    void Signal(int signal) const { kill(pid_, signal); }
    // Reads one line from the stdout pipe, then closes its read end.
    std::string ReadLineAndClose() {
        std::string line;
        char c = 0;
        while (read(pipe_[0], &c, 1) == 1 && c != '\n') line += c;
        close(pipe_[0]);
        pipe_[0] = -1;
        return line;
    }
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int pipe_[2] = {-1, -1};
};

bool HasWorkFile(const std::string& folder) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.path().filename().string().rfind(".pelloran-", 0) == 0) return true;
    return false;
}

// Waits until a conversion into folder is under way (its work file exists).
bool WaitForWorkFile(const std::string& folder) {
    for (int i = 0; i < 3000; ++i) {
        if (HasWorkFile(folder)) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

// The processes whose parent is pid.
std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        std::ifstream stat(e.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (name) state ppid: the name may hold spaces, so the fields are counted after its last ')'.
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(line.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        if (fields >> state >> parent && parent == pid) children.push_back(std::stoi(e.path().filename().string()));
    }
    return children;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class CliSignals : public ::testing::Test {
protected:
    // Four minutes of music-like sound: Vorbis takes seconds over it, so a run is still converting when the
    // signal comes.
    static void SetUpTestSuite() {
        shared_ = new test::TempDir;
        long_ = *shared_ / "long.wav";
        const auto r = test::Run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", long_, "synth", "240", "pluck",
                                  "A2", "pluck", "E3", "pluck", "C4", "tremolo", "3", "40", "gain", "-6"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }
    void SetUp() override {
        settingsFile_ = dir_ / "settings.conf";
        test::WriteBytes(settingsFile_, {});
    }
    std::vector<std::string> Env() const {
        return {"HOME=" + dir_.path().string(), "XDG_CONFIG_HOME=" + (dir_ / "config")};
    }
    std::vector<std::string> ToOgg(const std::string& out, const std::vector<std::string>& sources) const {
        std::vector<std::string> args = {test::CliPath(), "-q", "--settings", settingsFile_, "-f", "ogg", "-o", out};
        args.insert(args.end(), sources.begin(), sources.end());
        return args;
    }

    static test::TempDir* shared_;
    static std::string long_;
    test::TempDir dir_;
    std::string settingsFile_;
};

test::TempDir* CliSignals::shared_ = nullptr;
std::string CliSignals::long_;

TEST_F(CliSignals, EachStopSignalEndsTheRunByThatSignalWithoutWorkFiles) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) {
        SCOPED_TRACE(strsignal(signal));
        const std::string out = dir_ / ("out" + std::to_string(signal));
        const std::string printed = dir_ / ("stdout" + std::to_string(signal));
        Child cli(ToOgg(out, {long_}), Env(), printed);
        ASSERT_TRUE(WaitForWorkFile(out));
        cli.Signal(signal);
        const int status = cli.Wait();
        ASSERT_TRUE(WIFSIGNALED(status)) << "exited with " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_FALSE(HasWorkFile(out));
        // The record was printed before the process ended.
        EXPECT_EQ(Text(test::ReadBytes(printed)), long_ + "\tCancelled\n");
    }
}

TEST_F(CliSignals, SignalsIgnoredAtStartStayIgnored) {
    // As under nohup, or started with & by a script: hang-up and Ctrl+C ignored.
    const std::string out = dir_ / "out";
    Child cli(ToOgg(out, {long_}), Env(), dir_ / "stdout", {SIGHUP, SIGINT});
    ASSERT_TRUE(WaitForWorkFile(out));
    cli.Signal(SIGHUP);
    cli.Signal(SIGINT);
    const int status = cli.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Text(test::ReadBytes(dir_ / "stdout")), long_ + "\tlong.ogg\n");
    // The whole four minutes are there, by FFmpeg's count.
    const auto probe = test::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                  "stream=duration_ts", "-of", "csv=p=0", out + "/long.ogg"});
    EXPECT_EQ(probe.out, "10584000\n");
    EXPECT_FALSE(HasWorkFile(out));
}

TEST_F(CliSignals, ShellLoopGoesOnAfterCtrlC) {
    const std::string shortSource = dir_ / "short.wav";
    ASSERT_EQ(test::Run({"sox", "-n", "-r", "44100", "-c", "2", shortSource, "synth", "1", "pluck", "C3"}).exitCode, 0);
    const std::string out = dir_ / "out";
    // The loop as a user types it; the first run is the long one.
    const std::string loop = "cli=$0 settings=$1 out=$2; shift 2; for f in \"$@\"; do \"$cli\" -q --settings "
                             "\"$settings\" -f ogg -o \"$out\" \"$f\" >/dev/null; echo rc=$?; done";
    Child shell({"/bin/bash", "-c", loop, test::CliPath(), settingsFile_, out, long_, shortSource}, Env(),
                dir_ / "printed");
    ASSERT_TRUE(WaitForWorkFile(out));
    const std::vector<pid_t> running = ChildrenOf(shell.pid());
    ASSERT_EQ(running.size(), 1u);
    kill(running[0], SIGINT);  // what Ctrl+C sends to the job in the foreground
    const int status = shell.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(Text(test::ReadBytes(dir_ / "printed")), "rc=130\nrc=0\n");
    EXPECT_TRUE(fs::exists(out + "/short.ogg")) << "the loop's second run converted";
    EXPECT_FALSE(fs::exists(out + "/long.ogg"));
    EXPECT_FALSE(HasWorkFile(out));
}

TEST_F(CliSignals, ClosedOutputPipeEndsWith130) {
    const std::string out = dir_ / "out";
    const std::string a = dir_ / "a.wav";
    const std::string b = dir_ / "b.wav";
    for (const std::string& path : {a, b})
        ASSERT_EQ(test::Run({"sox", "-n", "-r", "8000", "-c", "1", path, "synth", "0.1", "pluck", "C3"}).exitCode, 0);
    std::vector<std::string> args = ToOgg(out, {a, b, long_});
    args.insert(args.begin() + 1, {"-j", "1"});
    Child cli(args, Env(), "");
    EXPECT_EQ(cli.ReadLineAndClose(), a + "\ta.ogg");  // like `| head -1`
    const int status = cli.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << "killed by " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(HasWorkFile(out));
}

}  // namespace
}  // namespace pelloran
