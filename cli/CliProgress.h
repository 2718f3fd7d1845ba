#pragma once
// Terminal progress for pelloran-cli: one line on stderr, only on a terminal; Ctrl+C cancels.

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "app/Progress.h"

namespace pelloran::cli {

class CliProgress : public ProgressSink {
public:
    explicit CliProgress(bool show);
    ~CliProgress() override;

    void SetFileText(const std::string& text) override;
    int FileBarWidth() const override { return 100; }
    void SetFileBar(int position) override;
    void SetRunText(const std::string& text) override;
    void SetRunRange(int count) override;
    void StepRun() override;
    void Pump() override {}
    bool CancelRequested() const override;

    // Clears the progress line before other output is printed.
    void Clear();
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }

    // Installs the Ctrl+C handler that sets the cancel flag (a second Ctrl+C ends the process).
    static void InstallInterruptHandler();

private:
    void Draw(bool force);

    bool show_;
    std::mutex mutex_;
    std::string fileText_;
    int runCount_ = 0;
    int runDone_ = 0;
    int fileBar_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace pelloran::cli
