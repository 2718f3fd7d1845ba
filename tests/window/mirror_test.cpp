// The window's mirror: a preview of what a run would do, the run itself with its outputs read back by sox,
// a second run after changes, and Cancel.

#include <QtCore/QRegularExpression>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTreeWidget>

#include "gui/window/MirrorDialog.h"
#include "tests/window/WindowTest.h"

using namespace pelloran;
using namespace pelloran::test;

namespace {

// A plucked chord, as sox makes music-like test signals.
void Pluck(const std::string& path, double seconds, const char* low, const char* high) {
    const CommandResult made = Run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth",
                                    std::to_string(seconds), "pluck", low, "pluck", high, "tremolo", "3", "40"});
    QVERIFY2(made.exitCode == 0, made.err.c_str());
}

double Seconds(const std::string& path) {
    const CommandResult got = Run({"soxi", "-D", path});
    return got.exitCode == 0 ? std::stod(got.out) : -1.0;
}

QStringList Column(QTreeWidget* tree, int column) {
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) texts << tree->topLevelItem(i)->text(column);
    return texts;
}

}  // namespace

class MirrorTest : public QObject {
    Q_OBJECT
private slots:
    void previewsThenMirrorsAndKeepsInStep();
};

void MirrorTest::previewsThenMirrorsAndKeepsInStep() {
    if (!HaveTool("sox") || !HaveTool("soxi")) QSKIP("sox is not installed");
    WindowHarness h([](ConvertSettings& s) { s.OutputFormat = kOutputFlac; });
    MainDialog& w = h.Open();
    const std::string src = h.Path("music"), dst = h.Path("mirror");
    fs::create_directories(src + "/Album");
    Pluck(src + "/Album/Low Tide.wav", 3.5, "C3", "G4");
    Pluck(src + "/Lanterns.wav", 2.0, "D3", "A4");
    Pluck(src + "/.draft.wav", 1.0, "E3", "B4");                   // hidden: not mirrored
    WriteBytes(src + "/Album/cover.jpg", {0xff, 0xd8, 0xff, 0xe0});  // not audio: not mirrored

    w.OnCommand(MainDialog::kCmdMirror);
    auto* dialog = w.findChild<MirrorDialog*>();
    QVERIFY(dialog != nullptr);
    QTRY_VERIFY(dialog->isVisible());
    QSignalSpy previewed(dialog, &MirrorDialog::PreviewShown);
    QSignalSpy finished(dialog, &MirrorDialog::MirrorFinished);
    const auto preview = [&] {
        dialog->Preview();
        QVERIFY(previewed.wait(30000));
    };
    const auto mirror = [&] {
        dialog->Mirror();
        QVERIFY(finished.wait(60000));
    };

    // The folders inside each other are refused before anything is planned.
    dialog->SetFolders(QString::fromStdString(src), QString::fromStdString(src));
    preview();
    QVERIFY(!dialog->mirrorButton()->isEnabled());
    QVERIFY(dialog->summary()->text().contains("cannot"));

    // Cancel before a file is converted: nothing is made and the same plan stays to do.
    dialog->SetFolders(QString::fromStdString(src), QString::fromStdString(dst));
    preview();
    QCOMPARE(dialog->summary()->text(), QString("2 new, 0 changed, 0 up to date, 0 to remove."));
    QCOMPARE(Column(dialog->steps(), 1), QStringList({"Album/Low Tide.wav", "Lanterns.wav"}));
    QVERIFY(dialog->mirrorButton()->isEnabled());
    dialog->Mirror();
    QVERIFY(dialog->cancelButton()->isVisible() && !dialog->previewButton()->isEnabled());
    dialog->Cancel();
    QVERIFY(finished.wait(60000));
    QVERIFY(dialog->summary()->text().startsWith("Cancelled: "));
    QVERIFY(!dialog->mirrorButton()->isEnabled());  // a run plans again
    // What a cancelled run finished is in step; the rest is still to do, and no half-written file is left.
    preview();
    const QRegularExpression counts("^(\\d) new, 0 changed, (\\d) up to date, 0 to remove\\.$");
    const QRegularExpressionMatch left = counts.match(dialog->summary()->text());
    QVERIFY2(left.hasMatch(), qPrintable(dialog->summary()->text()));
    QCOMPARE(left.captured(1).toInt() + left.captured(2).toInt(), 2);
    for (const auto& entry : fs::recursive_directory_iterator(dst))
        if (entry.is_regular_file() && entry.path().extension() == ".flac") QVERIFY(Seconds(entry.path().string()) > 1);

    mirror();
    QCOMPARE(dialog->summary()->text(),
             QString("Mirrored: %1 converted, 0 copied, 0 removed, 0 failed.").arg(left.captured(1)));
    QCOMPARE(dialog->bar()->value(), dialog->bar()->maximum());
    for (const QString& result : Column(dialog->steps(), 2)) QCOMPARE(result, QString("Done"));
    // Read back by sox: real FLAC files of the sources' lengths, in the source's tree.
    QVERIFY(std::abs(Seconds(dst + "/Album/Low Tide.flac") - 3.5) < 0.01);
    QVERIFY(std::abs(Seconds(dst + "/Lanterns.flac") - 2.0) < 0.01);
    QVERIFY(!fs::exists(dst + "/.draft.flac") && !fs::exists(dst + "/Album/cover.jpg"));

    // A changed source, a gone one (removed only when asked), and one more.
    Pluck(src + "/Lanterns.wav", 2.5, "D3", "A4");
    fs::last_write_time(src + "/Lanterns.wav", fs::file_time_type::clock::now() + std::chrono::seconds(5));
    fs::remove(src + "/Album/Low Tide.wav");
    Pluck(src + "/Night Ferry.wav", 1.5, "G2", "D4");
    preview();
    QVERIFY(dialog->summary()->text().startsWith("1 new, 1 changed, 0 up to date, 0 to remove."));
    dialog->pruneBox()->setChecked(true);
    QVERIFY(!dialog->mirrorButton()->isEnabled());  // the plan shown was for other options
    preview();
    QCOMPARE(dialog->summary()->text(), QString("1 new, 1 changed, 0 up to date, 1 to remove."));
    QCOMPARE(Column(dialog->steps(), 0), QStringList({"Changed", "New", "Remove"}));
    QVERIFY(!dialog->bar()->isVisible());  // the last run's bar goes with its plan
    mirror();
    QCOMPARE(dialog->summary()->text(), QString("Mirrored: 2 converted, 0 copied, 1 removed, 0 failed."));
    QVERIFY(std::abs(Seconds(dst + "/Lanterns.flac") - 2.5) < 0.01);
    QVERIFY(std::abs(Seconds(dst + "/Night Ferry.flac") - 1.5) < 0.01);
    QVERIFY(!fs::exists(dst + "/Album"));

    // In step: nothing to do.
    preview();
    QCOMPARE(dialog->summary()->text(), QString("0 new, 0 changed, 2 up to date, 0 to remove."));
    QVERIFY(!dialog->mirrorButton()->isEnabled());

    // A file the mirror did not make where a new target goes is never replaced: the output takes another name.
    Pluck(src + "/Harbour.wav", 1.0, "A2", "E4");
    Pluck(dst + "/Harbour.flac", 3.0, "C2", "G3");
    const std::vector<uint8_t> theirs = ReadBytes(dst + "/Harbour.flac");
    // A manifest half written by a killed run is swept; the manifest itself stays.
    const std::string stale = dst + "/.pelloran-mirror.k3Xq9Z";
    WriteBytes(stale, {'x'});
    fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::seconds(10));
    preview();
    mirror();
    QVERIFY(!fs::exists(stale) && fs::exists(dst + "/.pelloran-mirror"));
    QCOMPARE(dialog->summary()->text(), QString("Mirrored: 1 converted, 0 copied, 0 removed, 0 failed."));
    QVERIFY(ReadBytes(dst + "/Harbour.flac") == theirs);
    std::vector<std::string> ours;
    for (const auto& entry : fs::directory_iterator(dst)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Harbour", 0) == 0 && name != "Harbour.flac") ours.push_back(entry.path().string());
    }
    QCOMPARE(ours.size(), size_t(1));
    QVERIFY(std::abs(Seconds(ours.front()) - 1.0) < 0.01);
    QCOMPARE(w.list()->RowCount(), 0);  // the list is not touched
    dialog->reject();
}

QTEST_MAIN(MirrorTest)
#include "mirror_test.moc"
