#pragma once
// The one interface through which conversions and additions report progress and learn of Cancel.
// The window implements it with its progress dialogs; the CLI with a terminal display.

#include <string>

namespace pelloran {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;

    virtual void SetFileText(const std::string& text) = 0;
    // Width of the file bar in its own units (pixels in the window); the bar runs 0..width.
    virtual int FileBarWidth() const = 0;
    virtual void SetFileBar(int position) = 0;
    virtual void SetRunText(const std::string& text) = 0;
    virtual void SetRunRange(int count) = 0;
    virtual void StepRun() = 0;
    // Lets the front end breathe (the window processes its events); called after every block.
    virtual void Pump() = 0;
    virtual bool CancelRequested() const = 0;
};

// Progress that goes nowhere and never cancels (probing, tests).
class NullProgress : public ProgressSink {
public:
    void SetFileText(const std::string&) override {}
    int FileBarWidth() const override { return 100; }
    void SetFileBar(int) override {}
    void SetRunText(const std::string&) override {}
    void SetRunRange(int) override {}
    void StepRun() override {}
    void Pump() override {}
    bool CancelRequested() const override { return false; }
};

}  // namespace pelloran
