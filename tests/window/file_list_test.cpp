// The file list through the window's own operations: adding, the failure report, the columns, sorting,
// removing, dropping, and the keys.

#include <filesystem>

#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QDropEvent>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QPushButton>

#include "app/FileList.h"
#include "platform/Paths.h"
#include "gui/window/ProgressDialogs.h"
#include "tests/window/WindowTest.h"

using namespace pelloran;
using namespace pelloran::test;

namespace {

// A RIFF WAVE file with no format chunk: no reader takes it.
std::vector<uint8_t> BrokenWav(int variant) {
    std::vector<uint8_t> body;
    PutTag(body, "WAVE");
    PutTag(body, "junk");
    PutU32LE(body, uint32_t(8 + variant));
    body.insert(body.end(), size_t(8 + variant), uint8_t(variant * 7));
    std::vector<uint8_t> file;
    PutTag(file, "RIFF");
    PutU32LE(file, uint32_t(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

}  // namespace

class FileListTest : public QObject {
    Q_OBJECT

private slots:
    void addsFilesWithTheirColumnsAndIgnoresDuplicates();
    void reportsAtMostThirtyFailuresWithTheNote();
    void aFolderGivesItsMediaFilesWithoutAReport();
    void sortsEachColumnTypeBothWays();
    void blankDurationsSortLastAndHoursCount();
    void refusesEmptyFilesAndMeasuresTruncatedWavs();
    void removesSelectedRowsAndAll();
    void dropsFoldersThroughTheFilter();
    void cancelKeepsTheFilesAddedSoFar();
    void keysOpenTheFileDialogAndRemove();
    void albumTracksAreRowsOfTheirOwn();
};

void FileListTest::addsFilesWithTheirColumnsAndIgnoresDuplicates() {
    WindowHarness h;
    MainDialog& w = h.Open();
    WriteSineWav(h.File("short.wav"), 44100, 2, 2.0);
    WriteSineWav(h.File("speech.wav"), 8000, 1, 61.0);
    std::vector<std::string> files = {h.File("short.wav"), h.File("speech.wav")};
    if (HaveTool("sox")) {
        Run({"sox", "-n", "-r", "22050", "-c", "6", "-b", "16", h.File("six.wav"), "synth", "1", "sine", "300"});
        Run({"sox", "-n", "-r", "16000", "-c", "4", "-b", "16", h.File("four.wav"), "synth", "1", "sine", "300"});
        files.push_back(h.File("six.wav"));
        files.push_back(h.File("four.wav"));
    }
    if (HaveTool("lame")) {
        Run({"lame", "--quiet", h.File("short.wav"), h.File("joint.mp3")});
        files.push_back(h.File("joint.mp3"));
    }
    // The same file twice in one addition, and again through a different spelling of its path.
    files.push_back(h.File("short.wav"));
    h.AddAndWait(files);
    QCOMPARE(w.list()->RowCount(), int(files.size()) - 1);
    QVERIFY(!w.IsBusy());
    QVERIFY(w.list()->isEnabled() && w.list()->window()->isEnabled());
    QVERIFY(WindowHarness::Messages().empty());

    QCOMPARE(h.Column(SortListCtrl::kColFile)[0], std::string("short.wav"));
    QCOMPARE(h.Column(SortListCtrl::kColDuration)[0], std::string("00:02"));
    QCOMPARE(h.Column(SortListCtrl::kColBitRate)[0], std::string("1411 kbps"));
    QCOMPARE(h.Column(SortListCtrl::kColFreq)[0], std::string("44100 Hz"));
    QCOMPARE(h.Column(SortListCtrl::kColChannels)[0], std::string("Stereo"));
    QCOMPARE(h.Column(SortListCtrl::kColDuration)[1], std::string("01:01"));
    QCOMPARE(h.Column(SortListCtrl::kColBitRate)[1], std::string("128 kbps"));
    QCOMPARE(h.Column(SortListCtrl::kColChannels)[1], std::string("Mono"));
    QCOMPARE(h.Column(SortListCtrl::kColStatus)[0], std::string());
    if (HaveTool("sox")) {
        QCOMPARE(h.Column(SortListCtrl::kColChannels)[2], std::string("5.1"));
        QCOMPARE(h.Column(SortListCtrl::kColChannels)[3], std::string("4"));
    }
    if (HaveTool("lame")) QCOMPARE(h.Column(SortListCtrl::kColChannels).back(), std::string("J-Stereo"));
    // Numbers sit at the right of their columns.
    QVERIFY(w.list()->Row(0)->textAlignment(SortListCtrl::kColBitRate) & Qt::AlignRight);
    QVERIFY(w.list()->Row(0)->textAlignment(SortListCtrl::kColChannels) == 0);

    const int rows = w.list()->RowCount();
    h.AddAndWait({fs::path(h.File("short.wav")).parent_path().string() + "/./short.wav"});
    QCOMPARE(w.list()->RowCount(), rows);
    QVERIFY(WindowHarness::Messages().empty());
    QCOMPARE(w.AddFileToList(h.File("speech.wav")), MainDialog::AddResult::Duplicate);
}

void FileListTest::reportsAtMostThirtyFailuresWithTheNote() {
    WindowHarness h;
    MainDialog& w = h.Open();
    std::vector<std::string> files;
    WriteSineWav(h.File("good.wav"), 22050, 1, 0.5);
    files.push_back(h.File("good.wav"));
    for (int i = 0; i < 31; ++i) {
        const std::string name = h.File("broken" + std::to_string(i) + ".wav");
        WriteBytes(name, BrokenWav(i));
        files.push_back(name);
    }
    h.AddAndWait(files);
    QCOMPARE(w.list()->RowCount(), 1);
    // The report appears after the adding window is gone.
    QVERIFY(w.addProgress() == nullptr);
    auto boxes = WindowHarness::Messages();
    QCOMPARE(boxes.size(), size_t(1));
    QMessageBox* box = boxes[0];
    QCOMPARE(box->windowTitle(), QString("Pelloran"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    const QString text = box->text();
    QVERIFY(text.startsWith("Failed to load the following files.\n\n" + QString::fromStdString(files[1]) + "\n"));
    QVERIFY(text.contains(QString::fromStdString(files[30]) + "\n<more files>...\n"));
    QVERIFY(!text.contains(QString::fromStdString(files[31])));
    QCOMPARE(text.count("\n<more files>"), 1);
    QVERIFY(text.contains("support@pelloran.org"));  // no note: the support line
    WindowHarness::CloseMessages();

    // A DAT file is refused with its note, which replaces the support line.
    WriteBytes(h.File("video.dat"), {1, 2, 3, 4});
    h.AddAndWait({h.File("video.dat"), h.File("broken0.wav")});
    boxes = WindowHarness::Messages();
    QCOMPARE(boxes.size(), size_t(1));
    const char* datNote =
        "DAT files (Video CD tracks) are converted with Pelloran Video Converter, not with this program.";
    QVERIFY(boxes[0]->text().endsWith("\n" + QString(datNote)));
    QCOMPARE(w.failureNote(), std::string(datNote));
    QCOMPARE(w.list()->RowCount(), 1);
}

void FileListTest::aFolderGivesItsMediaFilesWithoutAReport() {
    WindowHarness h;
    MainDialog& w = h.Open();
    const fs::path album = fs::path(h.File("album/x")).parent_path();
    fs::create_directories(album);
    WriteSineWav((album / "01 Intro.wav").string(), 22050, 1, 0.3);
    WriteSineWav((album / ".hidden.wav").string(), 22050, 1, 0.3);
    WriteBytes((album / "cover.jpg").string(), {0xFF, 0xD8, 0xFF, 0xE0});
    WriteBytes((album / "album.cue").string(), {'F', 'I', 'L', 'E'});
    WriteBytes((album / "rip.log").string(), {'E', 'A', 'C'});
    // Add Folder, and the same folder dropped on the window.
    QSignalSpy added(&w, &MainDialog::AddingFinished);
    w.AddFolder(album.string());
    QVERIFY(added.wait(60000));
    QCOMPARE(w.list()->RowCount(), 1);
    w.list()->clear();
    w.AddDroppedPaths({album.string()});
    QVERIFY(added.wait(60000));
    QVERIFY(WindowHarness::Messages().empty());
}

void FileListTest::sortsEachColumnTypeBothWays() {
    WindowHarness h;
    MainDialog& w = h.Open();
    // Bit rates 128, 352 and 1411 kbps: as numbers they sort otherwise than as texts.
    WriteSineWav(h.File("b.wav"), 8000, 1, 75.0);   // 01:15, 128 kbps
    WriteSineWav(h.File("C.wav"), 44100, 2, 9.0);   // 00:09, 1411 kbps
    WriteSineWav(h.File("a.wav"), 22050, 1, 61.0);  // 01:01, 352 kbps
    h.AddAndWait({h.File("b.wav"), h.File("C.wav"), h.File("a.wav")});
    SortListCtrl* list = w.list();
    using Names = std::vector<std::string>;
    const auto names = [&] { return h.Column(SortListCtrl::kColFile); };

    list->SortByColumn(SortListCtrl::kColBitRate);
    QCOMPARE(names(), (Names{"b.wav", "a.wav", "C.wav"}));
    list->SortByColumn(SortListCtrl::kColBitRate);
    QCOMPARE(names(), (Names{"C.wav", "a.wav", "b.wav"}));

    list->SortByColumn(SortListCtrl::kColDuration);  // another column starts ascending again
    QCOMPARE(names(), (Names{"C.wav", "a.wav", "b.wav"}));
    list->SortByColumn(SortListCtrl::kColDuration);
    QCOMPARE(names(), (Names{"b.wav", "a.wav", "C.wav"}));

    list->SortByColumn(SortListCtrl::kColFile);
    const Names ascending = names();
    QCOMPARE(ascending.size(), size_t(3));
    QVERIFY(QString::localeAwareCompare(QString::fromStdString(ascending[0]), QString::fromStdString(ascending[1])) <= 0);
    QVERIFY(QString::localeAwareCompare(QString::fromStdString(ascending[1]), QString::fromStdString(ascending[2])) <= 0);
    list->SortByColumn(SortListCtrl::kColFile);
    QCOMPARE(names(), (Names{ascending[2], ascending[1], ascending[0]}));

    // Entries travel with their rows; the sort keys of the column types.
    for (FileRow* row : list->AllRows())
        QCOMPARE(row->text(SortListCtrl::kColFile).toStdString(), FileNamePart(row->item().sourcePath));
    // Durations in seconds, hours included; a blank one after every duration, level with another blank.
    const struct {
        const char* a;
        const char* b;
        int order;
    } durations[] = {
        {"1:00:00", "59:59", 1}, {"1:02:05", "01:03", 1}, {"1:02:05", "62:04", 1}, {"00:59", "01:00", -1},
        {"", "03:00", 1},        {"03:00", "", -1},       {"", "", 0},             {"2:00:00", "2:00:00", 0},
    };
    for (const auto& d : durations)
        QCOMPARE(SortListCtrl::CompareTexts(d.a, d.b, SortListCtrl::kSortMinutesSeconds), d.order);
    QCOMPARE(SortListCtrl::CompareTexts("96 kbps", "128 kbps", SortListCtrl::kSortNumber), -1);
    QCOMPARE(SortListCtrl::CompareTexts("", "8000 Hz", SortListCtrl::kSortNumber), -1);
}

void FileListTest::blankDurationsSortLastAndHoursCount() {
    WindowHarness h;
    MainDialog& w = h.Open();
    // Under a second: no duration. Blanks among durations used to scramble the order.
    WriteSineWav(h.File("blank1.wav"), 8000, 1, 0.3);
    WriteSineWav(h.File("long.wav"), 8000, 1, 3.0);
    WriteSineWav(h.File("mid.wav"), 8000, 1, 75.0);
    WriteSineWav(h.File("blank2.wav"), 8000, 1, 0.2);
    WriteSineWav(h.File("short.wav"), 8000, 1, 9.0);
    h.AddAndWait({h.File("blank1.wav"), h.File("long.wav"), h.File("mid.wav"), h.File("blank2.wav"),
                  h.File("short.wav")});
    QCOMPARE(w.list()->RowCount(), 5);
    w.list()->Row(1)->setText(SortListCtrl::kColDuration, "1:02:05");  // an hour-long file's text
    using Names = std::vector<std::string>;
    const auto order = [&] {
        Names names = h.Column(SortListCtrl::kColFile);
        // The two blanks may come in either order, but last.
        if (names.size() == 5 && names[3] > names[4]) std::swap(names[3], names[4]);
        return names;
    };
    w.list()->SortByColumn(SortListCtrl::kColDuration);
    QCOMPARE(order(), (Names{"short.wav", "mid.wav", "long.wav", "blank1.wav", "blank2.wav"}));
    w.list()->SortByColumn(SortListCtrl::kColDuration);
    QCOMPARE(order(), (Names{"long.wav", "mid.wav", "short.wav", "blank1.wav", "blank2.wav"}));
}

void FileListTest::refusesEmptyFilesAndMeasuresTruncatedWavs() {
    WindowHarness h;
    MainDialog& w = h.Open();
    WriteBytes(h.File("empty.wav"), {});
    // A 10-second header over 2.5 seconds of samples.
    WriteSineWav(h.File("whole.wav"), 8000, 1, 10.0);
    std::vector<uint8_t> cut = ReadBytes(h.File("whole.wav"));
    cut.resize(44 + 8000 * 2 * 5 / 2);
    WriteBytes(h.File("cut.wav"), cut);
    QSignalSpy done(&w, &MainDialog::AddingFinished);
    w.AddPaths({h.File("empty.wav"), h.File("cut.wav")});
    QVERIFY(done.wait(60000));
    QCOMPARE(h.Column(SortListCtrl::kColFile), std::vector<std::string>{"cut.wav"});
    QCOMPARE(h.Column(SortListCtrl::kColDuration), std::vector<std::string>{"00:02"});
    QCOMPARE(h.Column(SortListCtrl::kColBitRate), std::vector<std::string>{"128 kbps"});
    QTRY_COMPARE(WindowHarness::Messages().size(), size_t(1));
    QVERIFY(WindowHarness::Messages()[0]->text().contains(QString::fromStdString(h.File("empty.wav"))));
    QCOMPARE(w.AddFileToList(h.File("empty.wav")), MainDialog::AddResult::Refused);
}

void FileListTest::removesSelectedRowsAndAll() {
    WindowHarness h;
    MainDialog& w = h.Open();
    for (const char* name : {"one.wav", "two.wav", "three.wav"}) WriteSineWav(h.File(name), 8000, 1, 0.2);
    h.AddAndWait({h.File("one.wav"), h.File("two.wav"), h.File("three.wav")});

    w.OnCommand(MainDialog::kCmdRemove);  // nothing selected
    auto boxes = WindowHarness::Messages();
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0]->text(), QString("Select at least one file."));
    QCOMPARE(boxes[0]->icon(), QMessageBox::Information);
    WindowHarness::CloseMessages();

    h.SelectRows({0, 2});
    w.OnCommand(MainDialog::kCmdRemove);
    QCOMPARE(h.Column(SortListCtrl::kColFile), std::vector<std::string>{"two.wav"});
    // A removed file can be added again; a remaining one cannot.
    QCOMPARE(w.AddFileToList(h.File("one.wav")), MainDialog::AddResult::Added);
    QCOMPARE(w.AddFileToList(h.File("two.wav")), MainDialog::AddResult::Duplicate);

    w.OnCommand(MainDialog::kCmdRemoveAll);
    QCOMPARE(w.list()->RowCount(), 0);
    QCOMPARE(w.AddFileToList(h.File("two.wav")), MainDialog::AddResult::Added);
    w.OnCommand(MainDialog::kCmdRemoveAll);
    w.OnCommand(MainDialog::kCmdRemoveAll);  // empty list
    boxes = WindowHarness::Messages();
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0]->text(), QString("The list is empty. Add files first."));
}

void FileListTest::dropsFoldersThroughTheFilter() {
    WindowHarness h([](ConvertSettings& s) {
        s.EnableExtFilter = 1;
        s.FilterExts = "mp3,wav";
        // The output folder lies inside the folder dropped: its files are earlier outputs, never sources.
        s.DestOutputFolderOpt = kOutputIntoFolder;
        s.DestSpecifiedFolder = (fs::path(std::getenv("XDG_CONFIG_HOME")).parent_path() / "files/drop/out").string();
    });
    MainDialog& w = h.Open();
    fs::create_directories(h.File("drop/sub/deeper"));
    fs::create_directories(h.File("drop/out"));
    WriteSineWav(h.File("drop/out/top.wav"), 8000, 1, 0.2);
    WriteSineWav(h.File("drop/top.WAV"), 8000, 1, 0.2);
    WriteSineWav(h.File("drop/sub/deeper/low.wav"), 8000, 1, 0.2);
    WriteSineWav(h.File("drop/sub/skip.aiff"), 8000, 1, 0.2);  // not in the filter
    WriteBytes(h.File("drop/notes.txt"), {'x'});
    WriteSineWav(h.File("loose.wav"), 8000, 1, 0.2);
    WriteSineWav(h.File("loose.flac"), 8000, 1, 0.2);
    WriteSineWav(h.File("caf\xe9.wav"), 8000, 1, 0.2);  // a Latin-1 name: not UTF-8
    // A link back up the tree must not make the scan endless.
    fs::create_directory_symlink(h.File("drop"), h.File("drop/sub/loop"));

    QMimeData data;
    // As a file manager gives them: a URI list whose names are percent-escaped bytes.
    QByteArray uris;
    for (const char* name : {"drop", "loose.wav", "loose.flac", "caf\xe9.wav"})
        uris += "file://" + QByteArray::fromStdString(h.File(name)).toPercentEncoding("/") + "\r\n";
    data.setData("text/uri-list", uris);
    QSignalSpy done(&w, &MainDialog::AddingFinished);
    QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &drop);
    QVERIFY(done.wait(60000));
    std::vector<std::string> names = h.Column(SortListCtrl::kColFile);
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (std::vector<std::string>{"caf\uFFFD.wav", "loose.wav", "low.wav", "top.WAV"}));
    QVERIFY(WindowHarness::Messages().empty());
    bool latin1 = false;
    for (FileRow* row : w.list()->AllRows()) latin1 |= row->item().sourcePath == h.File("caf\xe9.wav");
    QVERIFY(latin1);
}

void FileListTest::cancelKeepsTheFilesAddedSoFar() {
    WindowHarness h;
    MainDialog& w = h.Open();
    std::vector<std::string> files;
    // Float WAVs: their probe goes through FFmpeg, slow enough that the job still runs when Cancel is clicked
    // (plain PCM ones are probed too fast for that).
    std::vector<uint8_t> floatWav;
    {
        const std::string model = h.File("model.wav");
        WriteSineWav(model, 8000, 1, 0.05);
        floatWav = ReadBytes(model);
        std::filesystem::remove(model);
        const uint8_t format[] = {3, 0, 1, 0, 0x40, 0x1F, 0, 0, 0, 0x7D, 0, 0, 4, 0, 32, 0};  // float, 8 kHz mono
        std::copy(std::begin(format), std::end(format), floatWav.begin() + 20);
    }
    for (int i = 0; i < 1000; ++i) {
        files.push_back(h.File("f" + std::to_string(i) + ".wav"));
        WriteBytes(files.back(), floatWav);
    }
    WriteBytes(h.File("broken.wav"), BrokenWav(3));
    files.insert(files.begin(), h.File("broken.wav"));
    QSignalSpy done(&w, &MainDialog::AddingFinished);
    w.AddPaths(files);
    QVERIFY(w.IsBusy());
    QVERIFY(!w.list()->isEnabled());
    w.OnCommand(MainDialog::kCmdRemoveAll);  // commands wait while the window is busy
    QVERIFY(WindowHarness::Messages().empty());
    QVERIFY(w.addProgress() != nullptr);
    // Cancel as soon as two rows are in (QTRY's 50 ms steps would often come after the job's end).
    for (int waited = 0; w.list()->RowCount() < 2 && waited < 60000; ++waited) QTest::qWait(1);
    QVERIFY(w.list()->RowCount() >= 2);
    QVERIFY(w.addProgress() != nullptr);
    QTest::mouseClick(w.addProgress()->cancelButton(), Qt::LeftButton);
    QVERIFY(done.wait(60000));
    const int kept = w.list()->RowCount();
    QVERIFY(kept >= 2 && kept < 1000);
    // The failure among the files added before Cancel is still reported.
    auto boxes = WindowHarness::Messages();
    QCOMPARE(boxes.size(), size_t(1));
    QVERIFY(boxes[0]->text().contains(QString::fromStdString(h.File("broken.wav"))));
    QVERIFY(w.list()->isEnabled());
}

void FileListTest::keysOpenTheFileDialogAndRemove() {
    WindowHarness h;
    MainDialog& w = h.Open();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    WriteSineWav(h.File("keyed.wav"), 8000, 1, 0.2);

    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    QFileDialog* dialog = nullptr;
    QTRY_VERIFY((dialog = w.findChild<QFileDialog*>()) != nullptr && dialog->isVisible());
    QCOMPARE(dialog->nameFilters(), OpenFileFilters());
    QCOMPARE(dialog->nameFilters().size(), 51);  // all files, all audio files, then each kind
    QCOMPARE(dialog->selectedNameFilter(), QString("All Files (*)"));
    QVERIFY(dialog->nameFilters()[1].startsWith("All audio files (*.3gp "));
    QVERIFY(dialog->nameFilters()[1].contains(" *.opus ") && dialog->nameFilters().contains("Opus Files (*.opus)"));
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
    QSignalSpy done(&w, &MainDialog::AddingFinished);
    dialog->setDirectory(QString::fromStdString(h.File("")));
    dialog->selectFile("keyed.wav");
    QMetaObject::invokeMethod(dialog, "accept");
    QVERIFY(done.wait(60000));
    QCOMPARE(h.Column(SortListCtrl::kColFile), std::vector<std::string>{"keyed.wav"});

    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.list()->setFocus();
    h.SelectRows({0});
    QTest::keyClick(w.list(), Qt::Key_Delete);
    QCOMPARE(w.list()->RowCount(), 0);
}

void FileListTest::albumTracksAreRowsOfTheirOwn() {
    if (!HaveTool("sox")) QSKIP("sox missing");
    WindowHarness h;
    MainDialog& w = h.Open();
    fs::create_directories(h.File("album"));
    const std::string album = h.File("album/Live.flac");
    // 24 s of plucked chords: tracks at 0, 8 and 15 s.
    QCOMPARE(Run({"sox", "-n", "-r", "44100", "-c", "2", album, "synth", "24", "pluck", "C3", "pluck", "E4",
                  "tremolo", "3", "40", "vol", "0.5"})
                 .exitCode,
             0);
    const std::string sheet = "PERFORMER \"Quay Band\"\nFILE \"Live.flac\" WAVE\n"
                              "  TRACK 01 AUDIO\n    TITLE \"Opening\"\n    INDEX 01 00:00:00\n"
                              "  TRACK 02 AUDIO\n    TITLE \"Harbour\"\n    INDEX 01 00:08:00\n"
                              "  TRACK 03 AUDIO\n    TITLE \"Close\"\n    INDEX 01 00:15:00\n";
    WriteBytes(h.File("album/Live.cue"), std::vector<uint8_t>(sheet.begin(), sheet.end()));

    const auto rows = [&] {
        std::vector<std::string> out;
        for (FileRow* row : w.list()->AllRows())
            out.push_back(row->text(SortListCtrl::kColFile).toStdString() + " " +
                          row->text(SortListCtrl::kColDuration).toStdString());
        return out;
    };
    const std::vector<std::string> all = {"01 \u2014 Opening 00:08", "02 \u2014 Harbour 00:07",
                                          "03 \u2014 Close 00:09"};
    h.AddAndWait({album});
    QCOMPARE(rows(), all);
    QCOMPARE(w.list()->Row(1)->toolTip(SortListCtrl::kColFile).toStdString(), album);
    QVERIFY(WindowHarness::Messages().empty());

    // The album again, by its sheet or by its folder, adds nothing; a track removed comes back alone.
    h.AddAndWait({h.File("album/Live.cue")});
    QSignalSpy folderDone(&w, &MainDialog::AddingFinished);
    w.AddFolder(h.File("album"));
    QVERIFY(folderDone.wait(60000));
    QCOMPARE(rows(), all);
    h.SelectRows({1});
    w.OnCommand(MainDialog::kCmdRemove);
    QCOMPARE(w.list()->RowCount(), 2);
    h.AddAndWait({album});
    QCOMPARE(rows(), (std::vector<std::string>{all[0], all[2], all[1]}));
    QVERIFY(WindowHarness::Messages().empty());
}

QTEST_MAIN(FileListTest)
#include "file_list_test.moc"
