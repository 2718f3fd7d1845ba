#include "cli/CliProgress.h"
#include "cli/TextOut.h"

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace pelloran::cli {

namespace {

std::atomic<int> interrupts{0};  // signals and closed pipes: the run is cancelled
std::atomic<int> signals{0};
std::atomic<int> stoppedBy{0};  // the first signal that cancelled, 0 for none
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<void (*)()> lastWords{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

void SayLastWords() {
    const int error = errno;
    if (void (*cleanup)() = lastWords.exchange(nullptr)) cleanup();
    errno = error;
}

constexpr int kCancelSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2};

void RestoreDefault(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// Ctrl+C, SIGTERM, a hang-up and SIGUSR1/2 cancel; a second one ends the process at once.
void OnInterrupt(int signal) {
    int none = 0;
    stoppedBy.compare_exchange_strong(none, signal);
    interrupts.fetch_add(1);
    // Only a second signal ends at once, not one after a closed pipe: that run still removes its work files.
    if (signals.fetch_add(1) >= 1) {
        SayLastWords();
        RestoreDefault(signal);
        std::raise(signal);  // delivered when the handler returns
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
    for (const int signal : kCancelSignals) {
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
    struct sigaction pipe {};
    pipe.sa_handler = OnBrokenPipe;
    sigemptyset(&pipe.sa_mask);
    sigaction(SIGPIPE, &pipe, nullptr);
}

int CliProgress::EndInterrupted(int status) {
    const int signal = stoppedBy.load();
    if (signal == 0) return status;
    SayLastWords();
    // Nothing runs after the signal: what was printed goes out first.
    std::cout.flush();
    std::fflush(nullptr);
    RestoreDefault(signal);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
    return 128 + signal;  // only if the signal did not end the process
}

void CliProgress::SetLastWords(void (*cleanup)()) { lastWords.store(cleanup); }

bool CliProgress::CancelRequested() const { return interrupts.load() > 0; }

void CliProgress::SetRunRange(int count) {
    std::lock_guard lock(mutex_);
    total_ = count;
    finished_ = 0;
    started_ = std::chrono::steady_clock::now();
}

void CliProgress::EntryStarted(size_t index, const std::string& name) {
    std::lock_guard lock(mutex_);
    running_[index] = Running{name, 0.0};
    Draw(true);
}

void CliProgress::EntryProgress(size_t index, double fraction) {
    std::lock_guard lock(mutex_);
    const auto it = running_.find(index);
    if (it == running_.end()) return;
    it->second.fraction = fraction;
    Draw(false);
}

void CliProgress::EntryFinished(size_t index) {
    std::lock_guard lock(mutex_);
    if (running_.erase(index) > 0) ++finished_;
    Draw(true);
}

void CliProgress::Clear() {
    if (!show_ || !drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void CliProgress::Draw(bool force) {
    if (!show_ || total_ <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    double done = finished_;
    for (const auto& [index, entry] : running_) done += entry.fraction;
    const double fraction = std::clamp(done / total_, 0.0, 1.0);
    std::string line = "[" + std::to_string(finished_) + "/" + std::to_string(total_) + "] " +
                       std::to_string(static_cast<int>(fraction * 100)) + "%";
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    if (fraction > 0.01 && elapsed > 1.0) {
        const int remaining = static_cast<int>(elapsed / fraction - elapsed + 0.5);
        char eta[32];
        std::snprintf(eta, sizeof eta, " %d:%02d left", remaining / 60, remaining % 60);
        line += eta;
    }
    for (const auto& [index, entry] : running_) line += "  " + EscapeText(entry.name);
    winsize size {};
    const size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    if (line.size() > width) {
        // Cut on a character boundary.
        size_t cut = width;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        line.resize(cut);
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace pelloran::cli
