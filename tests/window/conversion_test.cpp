// Conversion runs through the window: statuses, the output, Cancel, failures and the Status column.

#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

#include "gui/window/ProgressDialogs.h"
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

bool Enabled(MainDialog& w, int id) { return w.contextMenu()->ActionFor(id)->isEnabled(); }

}  // namespace

class ConversionTest : public QObject {
    Q_OBJECT

private slots:
    void convertsTheListToWavWithItsStatuses();
    void cancelStopsInTheMiddleOfAFile();
    void failuresWidenTheStatusColumnOnce();
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
}

void ConversionTest::cancelStopsInTheMiddleOfAFile() {
    TempDir outDir;
    const std::string out = outDir.path().string();
    WindowHarness h([&](ConvertSettings& s) {
        ToWavInFolder(s, out);
        // Resampling to another rate makes the file take long enough to be stopped halfway.
        s.AutoDestWAVEncodingParam = 0;
        s.WAVSampleRate = 48000;
        s.WAVChannelNum = 2;
        s.WAVBitsPerSample = 16;
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
    QCOMPARE(progress->runText()->text(), QString("Converting 1 of 2 file(s) to WAV..."));
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
    QCOMPARE(w.list()->columnWidth(SortListCtrl::kColStatus), 145);
    fs::remove(h.File("gone1.wav"));
    fs::remove(h.File("gone2.wav"));

    h.ConvertAllAndWait();
    const std::string failed = std::string("Conversion Failure (") + kUnreadableFileNote + ")";
    QCOMPARE(h.Statuses(), (std::vector<std::string>{failed, failed}));
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

QTEST_MAIN(ConversionTest)
#include "conversion_test.moc"
