// Conversion runs through the window: statuses, the output, Cancel, failures and the Status column.

#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

#include <QtWidgets/QProgressBar>

#include "gui/window/ProgressDialogs.h"
#include "gui/window/RunTally.h"
#include "decode/AudioDecoder.h"
#include "tests/window/WindowTest.h"
#include "gui/controls/VardelMenu.h"

using namespace pelloran;
using namespace pelloran::test;

namespace {

void ToWavInFolder(ConvertSettings& s, const std::string& folder) {
    s.OutputFormat = kOutputWav;
    s.DestOutputFolderOpt = 399;
    s.DestSpecifiedFolder = folder;
    s.CreateDirs = 0;
    s.OutputFiles2MyDocuments = 0;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Vorbis at 48 kHz stereo from a 10-minute 8 kHz source takes seconds, long enough to be stopped halfway
// however fast the machine (a WAV target would be written in a fraction of a second).
void ToSlowOggInFolder(ConvertSettings& s, const std::string& folder) {
    ToWavInFolder(s, folder);
    s.OutputFormat = kOutputOgg;
    s.ogg.automatic = 0;
    s.ogg.rate = 48000;
    s.ogg.channels = 2;
}

bool Enabled(MainDialog& w, int id) { return w.contextMenu()->ActionFor(id)->isEnabled(); }

}  // namespace

class ConversionTest : public QObject {
    Q_OBJECT

private slots:
    void convertsTheListToWavWithItsStatuses();
    void cancelStopsInTheMiddleOfAFile();
    void failuresWidenTheStatusColumnOnce();
    void runBarCountsFinishedFilesAndPartsOfRunningOnes();
    void convertsTwoAtOnceAndCancelRemovesBoth();
    void statusTipGivesTheWholeTargetPath();
    void longRunsNotifyOnlyWhenTheWindowIsInactive();
    void playAndBrowseSayWhyTheyCannot();
    void neverOverwritesAnotherSourceOfTheRun();
    void namesFromTagsReadTheTags();
};

void ConversionTest::convertsTheListToWavWithItsStatuses() {
    TempDir outDir;
    const std::string out = outDir.path().string();
    WindowHarness h([&](ConvertSettings& s) {
        ToWavInFolder(s, out);
        s.TargetExistsOpt = 33;  // skip
        s.BrowseOutputFolder = 1;
    });
    MainDialog& w = h.Open();
    WriteSineWav(h.File("first.wav"), 22050, 2, 1.5);
    WriteSineWav(h.File("second.wav"), 8000, 1, 1.0);
    WriteSineWav(h.File("third.wav"), 11025, 1, 0.7);
    WriteBytes(outDir / "second.wav", {'k', 'e', 'e', 'p'});
    h.AddAndWait({h.File("first.wav"), h.File("second.wav"), h.File("third.wav")});
    QCOMPARE(w.settings().OutputFormat, int(kOutputWav));

    QSignalSpy done(&w, &MainDialog::RunFinished);
    w.OnCommand(MainDialog::kCmdConvertAll);
    QVERIFY(w.IsBusy());
    QVERIFY(!w.list()->isEnabled());
    QVERIFY(done.wait(120000));
    QVERIFY(!w.IsBusy() && w.list()->isEnabled());
    QVERIFY(w.runProgress() == nullptr);
    QCOMPARE(h.Statuses(), (std::vector<std::string>{"first.wav", "Target exists and skipped", "third.wav"}));

    // The converted files hold the source's audio; the skipped one is untouched; no work file is left.
    QCOMPARE(FilesIn(out), (std::vector<std::string>{"first.wav", "second.wav", "third.wav"}));
    const SndfileAudio source = DecodeWithSndfile(h.File("first.wav"));
    const SndfileAudio converted = DecodeWithSndfile(outDir / "first.wav");
    QCOMPARE(converted.rate, 22050);
    QCOMPARE(converted.channels, 2);
    QVERIFY(converted.samples == source.samples);
    QCOMPARE(ReadBytes(outDir / "second.wav"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    // The file manager opens once, on the first result.
    QCOMPARE(h.shown, std::vector<std::string>{outDir / "first.wav"});

    // The context menu follows the outcome of the selected row.
    h.SelectRows({0});
    w.EnableContextMenuItems();
    QVERIFY(Enabled(w, MainDialog::kCmdPlayDestination) && Enabled(w, MainDialog::kCmdBrowseDestination));
    w.OnCommand(MainDialog::kCmdPlayDestination);
    QCOMPARE(h.opened, std::vector<std::string>{outDir / "first.wav"});
    h.SelectRows({1});
    w.EnableContextMenuItems();
    QVERIFY(!Enabled(w, MainDialog::kCmdPlayDestination) && !Enabled(w, MainDialog::kCmdBrowseDestination));
    QVERIFY(Enabled(w, MainDialog::kCmdPlaySource) && Enabled(w, MainDialog::kCmdBrowseSource));

    // Convert Selected converts only the selection; the rename policy numbers the new name.
    w.settings().TargetExistsOpt = 11;
    h.SelectRows({2});
    QSignalSpy again(&w, &MainDialog::RunFinished);
    w.OnCommand(MainDialog::kCmdConvertSelected);
    QVERIFY(again.wait(120000));
    QCOMPARE(h.Statuses(), (std::vector<std::string>{"first.wav", "Target exists and skipped", "third_1.wav"}));

    // Convert again: what was converted (and is still there) is not converted twice; the rest is.
    fs::remove(outDir / "second.wav");
    QSignalSpy third(&w, &MainDialog::RunFinished);
    w.OnCommand(MainDialog::kCmdConvertAll);
    QVERIFY(third.wait(120000));
    QCOMPARE(h.Statuses(), (std::vector<std::string>{"Converted already: first.wav", "second.wav",
                                                     "Converted already: third_1.wav"}));
    QCOMPARE(FilesIn(out), (std::vector<std::string>{"first.wav", "second.wav", "third.wav", "third_1.wav"}));
    // With everything converted, Convert says how to convert again instead of making copies.
    w.OnCommand(MainDialog::kCmdConvertAll);
    QVERIFY(!w.IsBusy());
    auto boxes = WindowHarness::Messages();
    QCOMPARE(boxes.size(), size_t(1));
    QVERIFY(boxes[0]->text().contains("Convert Selected"));
    WindowHarness::CloseMessages();
    QCOMPARE(FilesIn(out).size(), size_t(4));
}

void ConversionTest::cancelStopsInTheMiddleOfAFile() {
    TempDir outDir;
    const std::string out = outDir.path().string();
    WindowHarness h([&](ConvertSettings& s) {
        ToSlowOggInFolder(s, out);
        s.ParallelJobs = 1;  // the second file waits for the first
    });
    MainDialog& w = h.Open();
    WriteSineWav(h.File("long.wav"), 8000, 1, 600.0);
    WriteSineWav(h.File("later.wav"), 8000, 1, 0.5);
    h.AddAndWait({h.File("long.wav"), h.File("later.wav")});

    QSignalSpy done(&w, &MainDialog::RunFinished);
    w.ConvertAll();
    ConversionProgressDialog* progress = nullptr;
    QTRY_VERIFY((progress = w.runProgress()) != nullptr && progress->isVisible());
    QTRY_VERIFY(progress->fileText()->text().contains("%"));
    QTRY_COMPARE(progress->runText()->text(), QString("Converting file 1 of 2 to OGG..."));
    QVERIFY(progress->fileText()->text().startsWith("Converting long.wav..."));
    QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
    QVERIFY(progress->isVisible());  // Cancel does not close the window itself
    QVERIFY(done.wait(120000));

    QCOMPARE(h.Statuses(), (std::vector<std::string>{"Cancelled", ""}));
    QVERIFY(FilesIn(out).empty());  // neither the target nor a work file
    QVERIFY(h.shown.empty());
    QVERIFY(w.list()->Row(0)->item().targetPath.empty());
}

void ConversionTest::failuresWidenTheStatusColumnOnce() {
    TempDir outDir;
    const std::string out = outDir.path().string();
    WindowHarness h([&](ConvertSettings& s) { ToWavInFolder(s, out); });
    MainDialog& w = h.Open();
    WriteSineWav(h.File("gone1.wav"), 8000, 1, 0.3);
    WriteSineWav(h.File("gone2.wav"), 8000, 1, 0.3);
    h.AddAndWait({h.File("gone1.wav"), h.File("gone2.wav")});
    QVERIFY(w.list()->columnWidth(SortListCtrl::kColStatus) >= 145);
    fs::remove(h.File("gone1.wav"));
    fs::remove(h.File("gone2.wav"));

    h.ConvertAllAndWait();
    // A source gone since it was listed says so; nobody is asked to send a file that is missing.
    for (const std::string& status : h.Statuses()) QCOMPARE(status, std::string("Conversion Failure (No such file or directory)"));
    QCOMPARE(w.list()->AllRows()[0]->toolTip(SortListCtrl::kColStatus),
             QString("Conversion Failure (No such file or directory)"));
    QCOMPARE(h.Statuses().size(), size_t(2));
    QCOMPARE(w.statusColumnWidth(), 500);
    QCOMPARE(w.list()->columnWidth(SortListCtrl::kColStatus), 500);
    h.SelectRows({0});
    w.EnableContextMenuItems();
    QVERIFY(!Enabled(w, MainDialog::kCmdPlayDestination));

    // Once widened, a later failure leaves the width the user chose.
    w.list()->setColumnWidth(SortListCtrl::kColStatus, 200);
    h.ConvertAllAndWait();
    QCOMPARE(w.list()->columnWidth(SortListCtrl::kColStatus), 200);
    QVERIFY(FilesIn(out).empty());
}

void ConversionTest::runBarCountsFinishedFilesAndPartsOfRunningOnes() {
    // Four entries, two at a time; each step and the whole run after it.
    enum Op { Start, Part, Done };
    const struct {
        Op op;
        size_t entry;
        double fraction;
        double overall;
        int lead;
    } steps[] = {
        {Start, 0, 0, 0.0, 0},       {Start, 1, 0, 0.0, 0},       {Part, 0, 0.5, 0.125, 0},
        {Part, 1, 0.18, 0.17, 0},    {Done, 0, 0, 0.295, 1},      {Part, 0, 0.9, 0.295, 1},  // finished: ignored
        {Start, 2, 0, 0.295, 1},     {Part, 2, 1.5, 0.545, 1},    {Done, 1, 0, 0.75, 2},
        {Done, 2, 0, 0.75, -1},      {Start, 3, 0, 0.75, 3},      {Part, 3, 0.18, 0.795, 3},  // not 100 %
        {Done, 3, 0, 1.0, -1},
    };
    RunTally tally(4);
    for (const auto& s : steps) {
        if (s.op == Start) tally.Started(s.entry);
        else if (s.op == Part) tally.Progress(s.entry, s.fraction);
        else tally.Finished(s.entry);
        QVERIFY(std::abs(tally.Overall() - s.overall) < 1e-9);
        QCOMPARE(tally.Lead() ? int(*tally.Lead()) : -1, s.lead);
    }
    QCOMPARE(tally.FinishedCount(), size_t(4));
    QCOMPARE(RunTally(0).Overall(), 1.0);
}

void ConversionTest::convertsTwoAtOnceAndCancelRemovesBoth() {
    TempDir outDir;
    const std::string out = outDir.path().string();
    WindowHarness h([&](ConvertSettings& s) {
        ToSlowOggInFolder(s, out);
        s.ParallelJobs = 2;
    });
    MainDialog& w = h.Open();
    WriteSineWav(h.File("one.wav"), 8000, 1, 600.0);
    WriteSineWav(h.File("two.wav"), 8000, 1, 600.0);
    WriteSineWav(h.File("three.wav"), 8000, 1, 0.5);
    h.AddAndWait({h.File("one.wav"), h.File("two.wav"), h.File("three.wav")});

    QSignalSpy done(&w, &MainDialog::RunFinished);
    w.ConvertAll();
    ConversionProgressDialog* progress = nullptr;
    QTRY_VERIFY((progress = w.runProgress()) != nullptr && progress->isVisible());
    // Both rows convert at once, each showing its own percentage; the file line follows the first, the run bar
    // counts both. The panel leaves the list in sight.
    const QRegularExpression running(QStringLiteral("^Converting\\.\\.\\. \\d+%$"));
    QTRY_VERIFY(running.match(QString::fromStdString(h.Statuses()[0])).hasMatch() &&
                running.match(QString::fromStdString(h.Statuses()[1])).hasMatch() && h.Statuses()[2].empty());
    QVERIFY(!progress->geometry().intersects(w.list()->geometry()));
    QVERIFY(progress->parentWidget() == &w && !progress->isWindow());
    QTRY_VERIFY(progress->fileText()->text().startsWith("Converting one.wav...") &&
                progress->fileText()->text().endsWith("(and 1 more)"));
    QTRY_VERIFY(progress->runBar()->value() > 0);
    QVERIFY(progress->runBar()->value() < progress->runBar()->maximum() * 2 / 3);
    QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
    QVERIFY(done.wait(120000));

    QCOMPARE(h.Statuses(), (std::vector<std::string>{"Cancelled", "Cancelled", ""}));
    QVERIFY(FilesIn(out).empty());  // neither target nor work file of either
    for (FileRow* row : w.list()->AllRows()) QVERIFY(row->item().targetPath.empty());
}

void ConversionTest::statusTipGivesTheWholeTargetPath() {
    WindowHarness h([&](ConvertSettings& s) {
        s.OutputFormat = kOutputWav;
        s.DestOutputFolderOpt = kOutputIntoFolder;
        s.CreateDirs = 0;
        s.OutputFiles2MyDocuments = 1;
        s.BrowseOutputFolder = 0;
    });
    MainDialog& w = h.Open();
    // The chosen folder cannot be made (a file is in its way): the output goes to the documents folder.
    WriteBytes(h.Path("blocker"), {'x'});
    w.settings().DestSpecifiedFolder = h.Path("blocker") + "/out/";
    WriteSineWav(h.File("tip.wav"), 8000, 1, 0.5);
    h.AddAndWait({h.File("tip.wav")});
    h.ConvertAllAndWait();
    QCOMPARE(h.Statuses(), std::vector<std::string>{"tip.wav"});
    const std::string target = (fs::path(h.Docs()) / "tip.wav").string();
    QVERIFY(fs::exists(target));
    QCOMPARE(w.list()->Row(0)->toolTip(SortListCtrl::kColStatus).toStdString(), target);
}

void ConversionTest::longRunsNotifyOnlyWhenTheWindowIsInactive() {
    TempDir outDir;
    WindowHarness h([&](ConvertSettings& s) { ToWavInFolder(s, outDir.path().string()); });
    MainDialog& w = h.Open();
    std::vector<QString> notes;
    w.shell().notify = [&](const QString& summary, const QString& body) {
        notes.push_back(summary + ": " + body);
        return true;
    };
    w.SetNotifyAfter(0);  // every run counts as long
    WriteSineWav(h.File("a.wav"), 8000, 1, 0.3);
    WriteSineWav(h.File("b.wav"), 8000, 1, 0.3);
    h.AddAndWait({h.File("a.wav"), h.File("b.wav")});
    fs::remove(h.File("b.wav"));

    // The window and its progress window count as here; another window as elsewhere.
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(!w.shell().userAway());
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    QVERIFY(w.shell().userAway());

    // The progress window takes the focus in this test's desktop: where the user is, is given.
    bool away = true;
    w.shell().userAway = [&] { return away; };
    h.ConvertAllAndWait();
    QCOMPARE(notes, std::vector<QString>{"Conversion finished: 1 file converted, 1 failed."});
    away = false;
    h.ConvertAllAndWait();
    QCOMPARE(notes.size(), size_t(1));
    away = true;
    w.SetNotifyAfter(MainDialog::kNotifyAfterMs);
    h.ConvertAllAndWait();  // short
    QCOMPARE(notes.size(), size_t(1));
}

void ConversionTest::playAndBrowseSayWhyTheyCannot() {
    TempDir outDir;
    WindowHarness h([&](ConvertSettings& s) {
        ToWavInFolder(s, outDir.path().string());
        s.BrowseOutputFolder = 0;
    });
    MainDialog& w = h.Open();
    WriteSineWav(h.File("gone.wav"), 8000, 1, 0.3);
    h.AddAndWait({h.File("gone.wav")});
    h.ConvertAllAndWait();
    h.SelectRows({0});
    const auto said = [] {
        const auto boxes = WindowHarness::Messages();
        const QString text = boxes.empty() ? QString() : boxes.back()->text();
        WindowHarness::CloseMessages();
        return text;
    };

    // An opener that fails says so.
    w.shell().open = [](const std::string&) { return false; };
    w.shell().showInFileManager = [](const std::string&) { return false; };
    w.OnCommand(MainDialog::kCmdPlayDestination);
    QVERIFY(said().startsWith("No program could open"));
    w.OnCommand(MainDialog::kCmdBrowseDestination);
    QVERIFY(said().startsWith("No file manager could show"));

    // A target that was deleted since.
    fs::remove(outDir / "gone.wav");
    for (int command : {MainDialog::kCmdPlayDestination, MainDialog::kCmdBrowseDestination}) {
        w.OnCommand(command);
        QVERIFY(said().contains("no longer exists"));
    }
}

void ConversionTest::neverOverwritesAnotherSourceOfTheRun() {
    WindowHarness h([](ConvertSettings& s) {
        s.OutputFormat = kOutputFlac;
        s.DestOutputFolderOpt = kOutputBesideSource;
        s.TargetExistsOpt = kTargetOverwrite;
        s.BrowseOutputFolder = 0;
    });
    MainDialog& w = h.Open();
    // album/song.flac and album/song.mp3, made by the window from one WAV.
    fs::create_directories(h.File("album"));
    WriteSineWav(h.File("album/song.wav"), 22050, 2, 1.0);
    h.AddAndWait({h.File("album/song.wav")});
    h.ConvertAllAndWait();
    w.settings().OutputFormat = kOutputMp3;
    h.ConvertAllAndWait();
    QCOMPARE(FilesIn(h.File("album")), (std::vector<std::string>{"song.flac", "song.mp3", "song.wav"}));
    w.RemoveAll();
    fs::remove(h.File("album/song.wav"));
    const std::vector<uint8_t> mp3 = ReadBytes(h.File("album/song.mp3"));

    // Both to MP3 beside themselves, overwriting: the FLAC's target is the other source, which stays as it was.
    h.AddAndWait({h.File("album/song.flac"), h.File("album/song.mp3")});
    QCOMPARE(w.list()->RowCount(), 2);
    h.ConvertAllAndWait();
    bool refused = false;
    for (FileRow* row : w.list()->AllRows()) {
        if (row->text(SortListCtrl::kColFile) == "song.flac")
            refused = row->text(SortListCtrl::kColStatus).contains("Target is a source of this run");
    }
    QVERIFY2(refused, h.Statuses().front().c_str());
    QVERIFY(ReadBytes(h.File("album/song.mp3")) == mp3);
    QCOMPARE(FilesIn(h.File("album")), (std::vector<std::string>{"song.flac", "song.mp3"}));
}

QTEST_MAIN(ConversionTest)
#include "conversion_test.moc"

// A pattern set after the files were added still names them from their tags.
void ConversionTest::namesFromTagsReadTheTags() {
    TempDir outDir;
    const std::string out = outDir.path().string();
    WindowHarness h([&](ConvertSettings& s) { ToWavInFolder(s, out); });
    MainDialog& w = h.Open();
    WriteSineWav(h.File("raw.wav"), 22050, 1, 0.3);
    QCOMPARE(pelloran::test::Run({"ffmpeg", "-v", "error", "-y", "-i", h.File("raw.wav"), "-metadata", "artist=Ana", "-metadata",
                        "title=Intro", "-metadata", "track=1", h.File("tagged.flac")}).exitCode, 0);
    WriteSineWav(h.File("bare.wav"), 22050, 1, 0.3);
    h.AddAndWait({h.File("tagged.flac"), h.File("bare.wav")});
    w.settings().OutputNamePattern = "{artist|Unknown Artist}/{track:02} - {title|Untitled}";
    h.ConvertAllAndWait();
    QVERIFY(fs::exists(outDir / "Ana/01 - Intro.wav"));
    QVERIFY(fs::exists(outDir / "Unknown Artist/ - Untitled.wav"));
}
