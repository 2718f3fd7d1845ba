#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>

#include "app/ConversionRun.h"
#include "frontend/Wording.h"
#include "platform/Paths.h"
#include "app/Progress.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Records what the run reports; cancels after a number of pumps when asked to.
class RecordingProgress : public ProgressSink {
public:
    explicit RecordingProgress(int cancelAfterPumps = -1) : cancelAfter_(cancelAfterPumps) {}
    void SetFileStep(const FileStep& step) override { SetFileText(FileStepText(step)); }
    void SetFileText(const std::string& text) {
        std::lock_guard lock(mutex_);
        fileTexts.push_back(text);
    }
    int FileBarWidth() const override { return 300; }
    void SetFileBar(int position) override {
        std::lock_guard lock(mutex_);
        bars.push_back(position);
    }
    void SetRunStep(const RunStep& step) override {
        std::lock_guard lock(mutex_);
        runTexts.push_back(RunStepText(step));
    }
    void SetRunRange(int count) override { runRange = count; }
    void StepRun() override { ++steps; }
    void Pump() override {
        if (cancelAfter_ >= 0 && ++pumps_ > cancelAfter_) cancelled_ = true;
    }
    bool CancelRequested() const override { return cancelled_; }

    std::vector<std::string> fileTexts;
    std::vector<std::string> runTexts;
    std::vector<int> bars;
    int runRange = 0;
    std::atomic<int> steps{0};

private:
    std::mutex mutex_;
    int cancelAfter_;
    std::atomic<int> pumps_{0};
    std::atomic<bool> cancelled_{false};
};

class RecordingObserver : public RunObserver {
public:
    explicit RecordingObserver(size_t n) : statuses(n), finished(n, false) {}
    void SetStatus(size_t index, const EntryStatus& status) override {
        std::lock_guard lock(mutex_);
        statuses[index] = StatusText(status);
    }
    void EntryFinished(size_t index, const EntryResult&) override {
        std::lock_guard lock(mutex_);
        finished[index] = true;
    }
    void WidenStatusColumn() override { ++widened; }
    bool Ask(Question question, const QuestionData& data) override {
        questions.push_back(QuestionText(question, data));
        return false;
    }
    void ShowOutput(const std::string& path) override { shown.push_back(path); }
    void OpenAddress(const std::string& address) override { opened.push_back(address); }

    std::vector<std::string> statuses;
    std::vector<bool> finished;
    std::vector<std::string> questions, shown, opened;
    int widened = 0;

private:
    std::mutex mutex_;
};

struct RunFixture {
    TempDir dir;
    ConvertSettings settings;
    std::vector<FileItem> items;

    RunFixture() {
        settings.OutputFormat = kOutputWav;
        settings.DestOutputFolderOpt = 399;
        settings.DestSpecifiedFolder = dir / "out";
        settings.BrowseOutputFolder = 0;
        settings.OutputFiles2MyDocuments = 0;
    }
    void Add(const std::string& path, uint16_t code = 2000) {
        FileItem item;
        item.sourcePath = path;
        item.formatCode = code;
        items.push_back(item);
    }
    RunSummary Run(ProgressSink& progress, RunObserver& observer, int jobs = 1) {
        std::vector<FileItem*> pointers;
        for (auto& i : items) pointers.push_back(&i);
        RunOptions options;
        options.jobs = jobs;
        options.preferredReader = ReaderKind::Wav;
        return RunConversion(pointers, settings, progress, observer, options);
    }
    // Hidden work files left in the output folder.
    int LeftoverWorkFiles() const {
        int n = 0;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir / "out", ec)) {
            if (e.path().filename().string().rfind(".pelloran-", 0) == 0) ++n;
        }
        return n;
    }
};

TEST(ConversionRun, ConvertsAndReportsTargetNamesAndProgress) {
    RunFixture f;
    test::WriteSineWav(f.dir / "a.wav", 44100, 2, 1.0);
    test::WriteSineWav(f.dir / "b.wav", 8000, 1, 0.5);
    f.Add(f.dir / "a.wav");
    f.Add(f.dir / "b.wav");
    f.settings.BrowseOutputFolder = 1;
    RecordingProgress progress;
    RecordingObserver observer(2);
    const RunSummary summary = f.Run(progress, observer);
    EXPECT_EQ(summary.succeeded, 2u);
    EXPECT_FALSE(summary.cancelled);
    EXPECT_EQ(observer.statuses[0], "a.wav");
    EXPECT_EQ(observer.statuses[1], "b.wav");
    EXPECT_EQ(f.items[0].targetPath, f.dir / "out/a.wav");
    ASSERT_EQ(observer.shown.size(), 1u);  // only the first output is shown
    EXPECT_EQ(observer.shown[0], f.items[0].targetPath);
    EXPECT_EQ(progress.runRange, 2);
    EXPECT_EQ(progress.runTexts.front(), "Converting file 1 of 2 to WAV...");
    EXPECT_EQ(progress.fileTexts.front(), "Converting a.wav...");
    EXPECT_EQ(progress.fileTexts.back(), "Converting b.wav...100%");
    EXPECT_EQ(f.LeftoverWorkFiles(), 0);

    const auto a = test::DecodeWithSndfile(f.items[0].targetPath);
    EXPECT_EQ(a.rate, 44100);
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.samples.size(), 88200u);
}

TEST(ConversionRun, TinySourceStillEndsAtHundredPercent) {
    RunFixture f;
    // 20 frames of 8-bit mono: 20 data bytes, so the percentage divisor is 1.
    test::WriteSineWav(f.dir / "tiny.wav", 8000, 1, 20.0 / 8000, 440, 8);
    f.Add(f.dir / "tiny.wav");
    RecordingProgress progress;
    RecordingObserver observer(1);
    ASSERT_EQ(f.Run(progress, observer).succeeded, 1u);
    EXPECT_EQ(progress.fileTexts.back(), "Converting tiny.wav...100%");
    EXPECT_EQ(progress.bars.back(), 300);
    // Automatic parameters keep 8-bit mono.
    const auto bytes = test::ReadBytes(f.items[0].targetPath);
    ASSERT_EQ(bytes.size(), 64u);
    EXPECT_EQ(bytes[22], 1);   // channels
    EXPECT_EQ(bytes[34], 8);   // bits
}

TEST(ConversionRun, CancelRemovesThePartialFileAndLeavesLaterEntries) {
    RunFixture f;
    test::WriteSineWav(f.dir / "long.wav", 44100, 2, 5.0);
    test::WriteSineWav(f.dir / "next.wav", 44100, 2, 0.1);
    f.Add(f.dir / "long.wav");
    f.Add(f.dir / "next.wav");
    f.settings.BrowseOutputFolder = 1;
    RecordingProgress progress(3);  // cancel during the first blocks
    RecordingObserver observer(2);
    const RunSummary summary = f.Run(progress, observer);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(observer.statuses[0], "Cancelled");
    EXPECT_EQ(observer.statuses[1], "");
    EXPECT_FALSE(observer.finished[1]);
    EXPECT_TRUE(f.items[0].targetPath.empty());
    EXPECT_FALSE(FileExists(f.dir / "out/long.wav"));
    EXPECT_EQ(f.LeftoverWorkFiles(), 0);
    EXPECT_TRUE(observer.shown.empty());
}

TEST(ConversionRun, UnreadableSourceFailsWithTheNoteAndWidensOnce) {
    RunFixture f;
    test::WriteBytes(f.dir / "bad.wav", std::vector<uint8_t>(100, 7));
    test::WriteBytes(f.dir / "bad2.wav", std::vector<uint8_t>(100, 9));
    test::WriteSineWav(f.dir / "good.wav", 22050, 1, 0.2);
    f.Add(f.dir / "bad.wav");
    f.Add(f.dir / "good.wav");
    f.Add(f.dir / "bad2.wav");
    RecordingProgress progress;
    RecordingObserver observer(3);
    const RunSummary summary = f.Run(progress, observer);
    EXPECT_EQ(summary.failed, 2u);
    EXPECT_EQ(observer.statuses[0].rfind("Conversion Failure (No reader could open this file (", 0), 0u)
        << observer.statuses[0];
    EXPECT_NE(observer.statuses[0].find("support@pelloran.org)"), std::string::npos) << observer.statuses[0];
    EXPECT_EQ(observer.statuses[1], "good.wav");
    EXPECT_EQ(observer.widened, 1);
    EXPECT_FALSE(FileExists(f.dir / "out/bad.wav"));
    EXPECT_EQ(f.LeftoverWorkFiles(), 0);
}

// A source that went away or became unreadable after it was listed says so, not that no reader took it.
TEST(ConversionRun, MissingOrUnreadableSourceSaysWhy) {
    RunFixture f;
    test::WriteSineWav(f.dir / "gone.wav", 22050, 1, 0.2);
    test::WriteSineWav(f.dir / "locked.wav", 22050, 1, 0.2);
    f.Add(f.dir / "gone.wav");
    f.Add(f.dir / "locked.wav");
    std::filesystem::remove(f.dir / "gone.wav");
    std::filesystem::permissions(f.dir / "locked.wav", std::filesystem::perms::none);
    const bool root = access((f.dir / "locked.wav").c_str(), R_OK) == 0;  // root reads it all the same
    RecordingProgress progress;
    RecordingObserver observer(2);
    const RunSummary summary = f.Run(progress, observer);
    EXPECT_EQ(observer.statuses[0], "Conversion Failure (No such file or directory)");
    if (!root) {
        EXPECT_EQ(observer.statuses[1], "Conversion Failure (Permission denied)");
    }
    EXPECT_EQ(summary.failed, root ? 1u : 2u);
    EXPECT_EQ(f.LeftoverWorkFiles(), 0);
}

TEST(ConversionRun, MidiWithoutSoundFontFailsEachEntryAfterTheQuestion) {
    RunFixture f;
    test::WriteBytes(f.dir / "a.mid", {'M', 'T', 'h', 'd'});
    test::WriteBytes(f.dir / "b.mid", {'M', 'T', 'h', 'd'});
    f.Add(f.dir / "a.mid", 3050);
    f.Add(f.dir / "b.mid", 3050);
    RecordingProgress progress;
    RecordingObserver observer(2);
    std::vector<FileItem*> pointers = {&f.items[0], &f.items[1]};
    RunOptions options;
    options.ensureSoundFont = [] { return false; };
    RunConversion(pointers, f.settings, progress, observer, options);
    ASSERT_EQ(observer.questions.size(), 1u);
    EXPECT_NE(observer.questions[0].find("\"ct4mgm.sf2\" is required"), std::string::npos);
    EXPECT_EQ(observer.statuses[0], "Failure. Requires file \"ct4mgm.sf2\".");
    EXPECT_EQ(observer.statuses[1], "Failure. Requires file \"ct4mgm.sf2\".");
}

TEST(ConversionRun, ParallelJobsGiveEveryEntryItsOwnTarget) {
    RunFixture f;
    for (int i = 0; i < 6; ++i) {
        const std::string path = f.dir / ("in" + std::to_string(i % 2) + "/s.wav");
        EnsureFolder(FolderPart(path), true);
        if (i < 2) test::WriteSineWav(path, 44100, 2, 0.3);
    }
    // Two sources with the same name into one folder, and a resampling job in parallel.
    f.Add(f.dir / "in0/s.wav");
    f.Add(f.dir / "in1/s.wav");
    f.settings.wav.automatic = 0;
    f.settings.wav.rate = 48000;
    RecordingProgress progress;
    RecordingObserver observer(2);
    const RunSummary summary = f.Run(progress, observer, 2);
    EXPECT_EQ(summary.succeeded, 2u);
    EXPECT_NE(f.items[0].targetPath, f.items[1].targetPath);
    for (const auto& item : f.items) {
        const auto audio = test::DecodeWithSndfile(item.targetPath);
        EXPECT_EQ(audio.rate, 48000);
        EXPECT_NEAR(static_cast<double>(audio.samples.size()) / 2, 0.3 * 48000, 8);
    }
}

TEST(ConversionRun, FormatWithoutWriterIsAFailure) {
    RunFixture f;
    test::WriteSineWav(f.dir / "a.wav", 8000, 1, 0.1);
    f.Add(f.dir / "a.wav");
    f.settings.OutputFormat = 4242;
    RecordingProgress progress;
    RecordingObserver observer(1);
    f.Run(progress, observer);
    EXPECT_EQ(observer.statuses[0], "Conversion Failure");
    EXPECT_EQ(f.LeftoverWorkFiles(), 0);
}

// Notes word their data (an errno of 0 is a lock, not an error); a failure shows its reason when it has one.
TEST(Wording, NotesAndStatusesCarryTheirData) {
    const std::pair<Note, std::string> notes[] = {
        {ReaderNote(""), ""},
        {ReaderNote("bad header"), "bad header"},
        {MakeNote(NoteCode::NoWorkFile), "No work file in the target's folder: it stays locked"},
        {MakeNote(NoteCode::NoWorkFile, {}, ENOSPC), "No work file in the target's folder: No space left on device"},
        {MakeNote(NoteCode::SystemError, {}, EACCES), "Permission denied"},
    };
    for (const auto& [note, text] : notes) EXPECT_EQ(NoteText(note), text);
    EXPECT_EQ(StatusText({EntryState::Failed, {}, {}}), "Conversion Failure");
    EXPECT_EQ(StatusText({EntryState::Failed, MakeNote(NoteCode::EmptyOutput), {}}),
              "Conversion Failure (The output is empty)");
}

}  // namespace
}  // namespace pelloran
