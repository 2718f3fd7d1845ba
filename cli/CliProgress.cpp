#include "cli/CliProgress.h"
#include "cli/TextOut.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

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
