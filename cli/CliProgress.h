#pragma once
// Terminal progress for pelloran-cli: one line on stderr, only on a terminal, redrawn in place and cut to the
// terminal's width: files finished of total, percent, remaining time, the files being converted. Ctrl+C, a
// hang-up, SIGTERM, SIGUSR1, SIGUSR2 and a closed output pipe cancel.

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "app/Progress.h"

namespace pelloran::cli {

class CliProgress : public ProgressSink {
public:
    explicit CliProgress(bool show);
    ~CliProgress() override;

    void SetFileStep(const FileStep&) override {}
    int FileBarWidth() const override { return 1000; }
    void SetFileBar(int) override {}
    void SetRunStep(const RunStep&) override {}
    void SetRunRange(int count) override;
    void StepRun() override {}
    void Pump() override {}
    bool CancelRequested() const override;

    // Entries of the run, by index (several at once with --jobs).
    void EntryStarted(size_t index, const std::string& name);
    void EntryProgress(size_t index, double fraction);
    void EntryFinished(size_t index);

    // Clears the progress line before other output is printed.
    void Clear();
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }

    // Installs the handlers that set the cancel flag (a second signal ends the process at once). A signal
    // ignored when the process started (nohup, `&` in a script) stays ignored.
    static void InstallInterruptHandler();
    // After a cancelled run has removed its work files: ends the process by the signal that cancelled it, so a
    // shell sees the death by that signal (a loop stops on Ctrl+C). Returns status when none did (a closed
    // output pipe).
    static int EndInterrupted(int status);
    // What must go before the process ends by a signal (a private folder): called before EndInterrupted raises
    // the signal and before a second signal ends the process. Only system calls: it may run in a handler.
    static void SetLastWords(void (*cleanup)());

private:
    struct Running {
        std::string name;
        double fraction = 0.0;
    };
    void Draw(bool force);

    bool show_;
    std::mutex mutex_;
    std::map<size_t, Running> running_;
    int total_ = 0;
    int finished_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace pelloran::cli
