#include "cli/CliProgress.h"
#include "cli/TextOut.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace pelloran::cli {

namespace {

std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Ctrl+C, SIGTERM and a hang-up cancel; a second one ends the process at once.
void OnInterrupt(int signal) {
    if (interrupts.fetch_add(1) >= 1) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

// A closed output pipe (`| head`) cancels too, but never kills: every later write raises it again.
void OnBrokenPipe(int) { interrupts.fetch_add(1); }

}  // namespace

CliProgress::CliProgress(bool show) : show_(show && isatty(STDERR_FILENO)) {}

CliProgress::~CliProgress() { Clear(); }

void CliProgress::InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    struct sigaction pipe {};
    pipe.sa_handler = OnBrokenPipe;
    sigemptyset(&pipe.sa_mask);
    sigaction(SIGPIPE, &pipe, nullptr);
}

bool CliProgress::CancelRequested() const { return interrupts.load() > 0; }

void CliProgress::SetFileText(const std::string& text) {
    std::lock_guard lock(mutex_);
    fileText_ = text;
    Draw(false);
}

void CliProgress::SetFileBar(int position) {
    std::lock_guard lock(mutex_);
    fileBar_ = position;
}

void CliProgress::SetRunText(const std::string&) {
    // The line shows its own run counter; the text only triggers a redraw.
    std::lock_guard lock(mutex_);
    Draw(true);
}

void CliProgress::SetRunRange(int count) {
    std::lock_guard lock(mutex_);
    runCount_ = count;
    runDone_ = 0;
}

void CliProgress::StepRun() {
    std::lock_guard lock(mutex_);
    ++runDone_;
}

void CliProgress::Clear() {
    if (!show_ || !drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void CliProgress::Draw(bool force) {
    if (!show_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    std::string line = "[" + std::to_string(runDone_) + "/" + std::to_string(runCount_) + "] " + EscapeText(fileText_);
    if (line.size() > 100) line = line.substr(0, 97) + "...";
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace pelloran::cli
