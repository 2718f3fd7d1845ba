#pragma once
// The one interface through which conversions and additions report progress and learn of Cancel.
// The window implements it with its progress dialogs; the CLI with a terminal display.

#include <cstddef>
#include <string>

namespace pelloran {

// Where a run is: entry position (from 1) of count, into the output format of that name ("MP3").
struct RunStep {
    int position = 0;
    size_t count = 0;
    std::string format;
};

// What is being done to one file, and how far (percent, -1 when not said).
enum class FileStage { Converting, Verifying };
struct FileStep {
    FileStage stage = FileStage::Converting;
    std::string name;  // the source's file name
    int percent = -1;
};

class ProgressSink {
public:
    virtual ~ProgressSink() = default;

    virtual void SetFileStep(const FileStep& step) = 0;
    // Width of the file bar in its own units (pixels in the window); the bar runs 0..width.
    virtual int FileBarWidth() const = 0;
    virtual void SetFileBar(int position) = 0;
    virtual void SetRunStep(const RunStep& step) = 0;
    virtual void SetRunRange(int count) = 0;
    virtual void StepRun() = 0;
    // Lets the front end breathe (the window processes its events); called after every block.
    virtual void Pump() = 0;
    virtual bool CancelRequested() const = 0;
};

// Progress that goes nowhere and never cancels (probing, tests).
class NullProgress : public ProgressSink {
public:
    void SetFileStep(const FileStep&) override {}
    int FileBarWidth() const override { return 100; }
    void SetFileBar(int) override {}
    void SetRunStep(const RunStep&) override {}
    void SetRunRange(int) override {}
    void StepRun() override {}
    void Pump() override {}
    bool CancelRequested() const override { return false; }
};

}  // namespace pelloran
