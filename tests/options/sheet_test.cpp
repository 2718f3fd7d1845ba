// The sheet: start page, leave checks, copy-back rules, saving, and a conversion with what was saved.

#include <QButtonGroup>
#include <QWheelEvent>
#include <QSpinBox>
#include <QComboBox>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>

#include <filesystem>
#include <functional>

#include "OptionsTestSupport.h"
#include "app/ConversionRun.h"
#include "frontend/Wording.h"
#include "app/Progress.h"
#include "decode/AudioDecoder.h"
#include "platform/registry.h"
#include "gui/options/AacPage.h"
#include "gui/options/Mp3Page.h"
#include "gui/options/OutputPage.h"
#include "gui/options/OptionsSheetDialog.h"
#include "gui/options/TagEditDialog.h"
#include "gui/options/WavPage.h"
#include "gui/options/OptionsSheet.h"
#include "gui/options/WmaPage.h"

using pelloran::ConvertSettings;
using pelloran::RegistryStore;
namespace fs = std::filesystem;

namespace {

// The stored form of the options group: equal texts mean equal options.
std::string Stored(const ConvertSettings& s) {
    RegistryStore store;
    pelloran::SaveSettings(s, pelloran::kSaveOptionsGroup, store);
    return store.Serialize();
}

template <typename Page>
Page* PageOf(OptionsSheetDialog& sheet, int index) {
    return dynamic_cast<Page*>(sheet.Page(index));
}

void ClickOk(OptionsSheetDialog& sheet) { sheet.Buttons()->button(QDialogButtonBox::Ok)->click(); }

class QuietObserver : public pelloran::RunObserver {
public:
    explicit QuietObserver(size_t n) : statuses(n) {}
    void SetStatus(size_t index, const pelloran::EntryStatus& status) override {
        statuses[index] = pelloran::StatusText(status);
    }
    bool Ask(pelloran::Question, const pelloran::QuestionData&) override { return false; }
    void ShowOutput(const std::string& path) override { shown.push_back(path); }
    void OpenAddress(const std::string&) override {}
    std::vector<std::string> statuses;
    std::vector<std::string> shown;
};

}  // namespace

class SheetTest : public QObject {
    Q_OBJECT

private slots:
    void sheetFitsASmallScreenWithOkAndCancelInView() {
        // 1280 x 800 at 200 %, less the desktop's panels.
        const QSize screen(640, 360);
        for (int start = 0; start < OptionsSheetDialog::kPageCount; ++start) {
            TestHooks t;
            ConvertSettings s;
            s.OptStartPageIndex = start;
            OptionsSheetDialog sheet(s, t.hooks);
            QVERIFY2(sheet.minimumSizeHint().width() <= screen.width() &&
                         sheet.minimumSizeHint().height() <= screen.height(),
                     qPrintable(QString("page %1: %2 x %3").arg(start).arg(sheet.minimumSizeHint().width())
                                    .arg(sheet.minimumSizeHint().height())));
            sheet.resize(screen);
            sheet.show();
            QVERIFY(QTest::qWaitForWindowExposed(&sheet));
            for (auto which : {QDialogButtonBox::Ok, QDialogButtonBox::Cancel}) {
                QPushButton* button = sheet.Buttons()->button(which);
                QVERIFY(button->isVisible());
                QVERIFY(sheet.rect().contains(QRect(button->mapTo(&sheet, QPoint(0, 0)), button->size())));
            }
        }
        // The tag editor the pages open fits too.
        TestHooks t;
        TagEditDialog editor(pelloran::TagSettings{}, true, t.hooks);
        QVERIFY2(editor.sizeHint().width() <= screen.width() && editor.sizeHint().height() <= screen.height(),
                 qPrintable(QString("%1 x %2").arg(editor.sizeHint().width()).arg(editor.sizeHint().height())));
    }

    // At 200 % the General page scrolls under the wheel: a list or spin box passing under the pointer keeps its
    // value (a notch once turned "rename" into "overwrite"); one the user clicked into takes the wheel.
    void wheelChangesOnlyAFocusedControl() {
        TestHooks t;
        OptionsSheetDialog sheet(ConvertSettings{}, t.hooks);
        sheet.resize(640, 360);
        sheet.show();
        sheet.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        auto* page = PageOf<OutputPage>(sheet, 0);
        const auto wheel = [](QWidget* w) {
            const QPointF at(w->width() / 2.0, w->height() / 2.0);
            QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(w, &event);
        };
        const struct {
            QWidget* control;
            std::function<int()> value;
        } controls[] = {
            {page->existsList, [page] { return page->existsList->currentIndex(); }},
            {page->jobsSpin, [page] { return page->jobsSpin->value(); }},
        };
        for (const auto& c : controls) {
            const int before = c.value();
            wheel(c.control);
            QCOMPARE(c.value(), before);
            c.control->setFocus();
            QVERIFY(c.control->hasFocus());
            wheel(c.control);
            QVERIFY(c.value() != before);
        }
    }

    void sheetHasItsTabsAndOnlyOkAndCancel() {
        TestHooks t;
        OptionsSheetDialog sheet(ConvertSettings{}, t.hooks);
        QCOMPARE(sheet.windowTitle(), QString("Options"));
        const QStringList tabs = {"General",     "MP3 Options",     "WAV Options", "WMA Options",
                                  "OGG Options", "AMR/AWB Options", "AAC Options", "MP4/M4A/M4B Options",
                                  "FLAC Options", "Opus Options"};
        QCOMPARE(sheet.TabBar()->count(), tabs.size());
        for (int i = 0; i < tabs.size(); ++i) QCOMPARE(sheet.TabBar()->tabText(i), tabs[i]);
        QCOMPARE(sheet.Buttons()->buttons().size(), 2);
        QVERIFY(sheet.Buttons()->button(QDialogButtonBox::Ok));
        QVERIFY(sheet.Buttons()->button(QDialogButtonBox::Cancel));
        // Only the start page is built; the WMA layer is asked when its page is first shown.
        QVERIFY(sheet.Page(0)->IsCreated());
        QVERIFY(!sheet.Page(3)->IsCreated());
        QCOMPARE(t.wmaCalls, 0);
        sheet.TabBar()->setCurrentIndex(3);
        QCOMPARE(t.wmaCalls, 1);
        QCOMPARE(sheet.ActivePageIndex(), 3);
    }

    void startPageComesFromTheSettings() {
        TestHooks t;
        for (const auto& [stored, expected] : {std::pair{10, 0}, {4, 4}, {9, 9}, {-1, 0}, {0, 0}}) {
            ConvertSettings s;
            s.OptStartPageIndex = stored;
            OptionsSheetDialog sheet(s, t.hooks);
            QCOMPARE(sheet.ActivePageIndex(), expected);
            QCOMPARE(sheet.TabBar()->currentIndex(), expected);
            QVERIFY(sheet.Page(expected)->IsCreated());
        }
    }

    void cancelRemembersThePageAndChangesNothing() {
        TestHooks t;
        pelloran::test::TempDir dir;
        RegistryStore store;
        QVERIFY(store.Load(dir / "Pelloran.conf") == RegistryStore::LoadStatus::Missing);
        ConvertSettings s;
        const std::string before = Stored(s);
        t.onDialog = [](QDialog& dialog) {
            auto& sheet = static_cast<OptionsSheetDialog&>(dialog);
            sheet.TabBar()->setCurrentIndex(4);
            sheet.TabBar()->setCurrentIndex(1);
            PageOf<Mp3Page>(sheet, 1)->amplify.box->click();
            sheet.TabBar()->setCurrentIndex(4);
            sheet.reject();
            return sheet.result() == QDialog::Accepted;
        };
        QVERIFY(!ShowOptionsSheet(nullptr, s, store, t.hooks));
        QCOMPARE(s.OptStartPageIndex, 4);
        QCOMPARE(Stored(s), before);
        QVERIFY(!fs::exists(dir / "Pelloran.conf"));

        // The next sheet opens there.
        OptionsSheetDialog next(s, t.hooks);
        QCOMPARE(next.TabBar()->tabText(next.ActivePageIndex()), QString("OGG Options"));
    }

    void refusedPageKeepsTheSheetOnItWithTheFocus() {
        TestHooks t;
        ConvertSettings s;
        s.DestOutputFolderOpt = 399;
        s.DestSpecifiedFolder.clear();
        OptionsSheetDialog sheet(s, t.hooks);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        auto* general = PageOf<OutputPage>(sheet, 0);

        sheet.TabBar()->setCurrentIndex(2);
        QCOMPARE(sheet.ActivePageIndex(), 0);
        QCOMPARE(sheet.TabBar()->currentIndex(), 0);
        QVERIFY(!sheet.Page(2)->IsCreated());
        QCOMPARE(t.LastMessage(), QString("Please choose an output folder."));
        QCOMPARE(t.messages.back().icon, QMessageBox::Warning);
        QVERIFY(general->folderEdit->hasFocus());

        general->folderEdit->setFocus();
        general->monoHelp->setFocus();
        ClickOk(sheet);
        QVERIFY(sheet.isVisible());
        QCOMPARE(sheet.result(), int(QDialog::Rejected));
        QCOMPARE(t.messages.size(), size_t(2));
        QVERIFY(general->folderEdit->hasFocus());

        // Once left, the check has already run; OK on another page does not repeat it.
        general->folderEdit->setText("/srv/out/");
        sheet.TabBar()->setCurrentIndex(2);
        QCOMPARE(sheet.ActivePageIndex(), 2);
        auto* wav = PageOf<WavPage>(sheet, 2);
        wav->amplify.box->click();
        wav->amplify.edit->setText("5");
        sheet.TabBar()->setCurrentIndex(6);
        QCOMPARE(sheet.ActivePageIndex(), 2);
        QCOMPARE(t.LastMessage(), QString("Invalid amplification coefficient. It's betwen 10 and 3000."));
        QVERIFY(wav->amplify.edit->hasFocus());
        wav->amplify.edit->setText("20");
        ClickOk(sheet);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        ConvertSettings out = s;
        sheet.CopyBack(out);
        QCOMPARE(out.DestSpecifiedFolder, std::string("/srv/out/"));
        QCOMPARE(out.wav.amplify, 1);
        QCOMPARE(out.wav.gain, 20);
    }

    void autoKeepsTheOldDetailedValues() {
        TestHooks t;
        ConvertSettings s;
        s.mp3.automatic = 1;
        s.mp3.bitRate = 192;
        s.mp3.rate = 48000;
        s.mp3.channels = 0;
        s.OptStartPageIndex = 1;
        OptionsSheetDialog sheet(s, t.hooks);
        auto* mp3 = PageOf<Mp3Page>(sheet, 1);
        QVERIFY(Choose(mp3->presetList, "11025 Hz, 16 kbps, Mono (low quality, smaller file size)"));
        QVERIFY(Choose(mp3->valueList, "24 kbps"));
        QVERIFY(Choose(mp3->presetList, "Auto"));
        mp3->amplify.box->click();
        mp3->amplify.edit->setText("150");
        ClickOk(sheet);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        ConvertSettings out = s;
        sheet.CopyBack(out);
        QCOMPARE(out.mp3.automatic, 1);
        QCOMPARE(out.mp3.bitRate, 192);
        QCOMPARE(out.mp3.rate, 48000);
        QCOMPARE(out.mp3.channels, 0);
        QCOMPARE(out.mp3.amplify, 1);
        QCOMPARE(out.mp3.gain, 150);
    }

    void pagesNeverOpenedAreWrittenBackExactly() {
        TestHooks t;
        ConvertSettings s;
        // Values no page would produce itself.
        s.mp3.automatic = 0;
        s.mp3.bitRate = 100;
        s.mp3.channels = 2;
        s.mp3.tagType = 7;
        s.ogg.channels = 7;
        s.ogg.automatic = 0;
        s.wav.channels = 9;
        s.wav.automatic = 0;
        s.amr.band = 5;
        s.amr.nbMode = 11;
        s.aac.mode = 3;
        s.aac.automatic = 0;
        s.m4a.blockType = 6;
        s.wma.tagType = 9;
        s.wma.automatic = 0;
        s.wma.bitRate = 12345;
        OptionsSheetDialog sheet(s, t.hooks);
        ClickOk(sheet);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        ConvertSettings out = s;
        sheet.CopyBack(out);
        QCOMPARE(Stored(out), Stored(s));
        QCOMPARE(t.wmaCalls, 0);
    }

    void pagesOpenedButUntouchedChangeNothing() {
        TestHooks t;
        t.wmaFormats = {{32000, 48000, 1}, {44100, 96000, 2}};
        ConvertSettings s;
        s.DestOutputFolderOpt = 399;
        s.DestSpecifiedFolder = "/srv/out/";
        s.EnableExtFilter = 1;
        s.FilterExts = "wav,flac";
        s.mp3.automatic = 0;
        s.mp3.bitRate = 224;
        s.mp3.rate = 32000;
        s.mp3.channels = 3;
        s.mp3.tagType = 0;
        s.mp3.id3Version = 2;
        s.wav.automatic = 0;
        s.wav.bits = 8;
        s.wav.rate = 96000;
        s.wav.channels = 0;
        s.wma.automatic = 0;
        s.wma.rate = 44100;
        s.wma.bitRate = 96000;
        s.wma.channels = 2;
        s.ogg.automatic = 0;
        s.ogg.bitRate = 400;
        s.ogg.rate = 48000;
        s.ogg.channels = 2;
        s.amr.band = 1;
        s.amr.wbMode = 3;
        s.amr.dtx = 1;
        s.aac.automatic = 0;
        s.aac.mode = 0;
        s.aac.bitRate = 256;
        s.aac.mpegVersion = 1;
        s.aac.blockType = 1;
        s.m4a.automatic = 0;
        s.m4a.quality = 350;
        s.m4a.tns = 1;
        s.m4a.amplify = 1;
        s.m4a.gain = 2500;
        s.m4a.tagType = 2;
        s.ogg.tags.Title = "Tune";
        s.ogg.tags.TrackNumType = 2;
        s.ogg.tags.CustomTrackNum = 9;
        OptionsSheetDialog sheet(s, t.hooks);
        for (int i = 1; i < OptionsSheetDialog::kPageCount; ++i) {
            sheet.TabBar()->setCurrentIndex(i);
            QCOMPARE(sheet.ActivePageIndex(), i);
        }
        QVERIFY(t.messages.empty());
        ClickOk(sheet);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        ConvertSettings out = s;
        sheet.CopyBack(out);
        QCOMPARE(Stored(out), Stored(s));
    }

    void okSavesTheOptionsAndTheNextStartConvertsWithThem() {
        pelloran::test::TempDir dir;
        const std::string conf = dir / "Pelloran.conf";
        RegistryStore store;
        QVERIFY(store.Load(conf) == RegistryStore::LoadStatus::Missing);
        ConvertSettings s;

        // The user works in the real modal sheet.
        bool driven = false;
        QTimer driver;
        driver.setInterval(10);
        connect(&driver, &QTimer::timeout, this, [&] {
            auto* sheet = dynamic_cast<OptionsSheetDialog*>(QApplication::activeModalWidget());
            if (!sheet || driven) return;
            driven = true;
            auto* general = PageOf<OutputPage>(*sheet, 0);
            Choose(general->folderList, "A custom folder");
            general->folderEdit->setText(QString::fromStdString(dir / "out"));
            if (general->browseOutputBox->isChecked()) general->browseOutputBox->click();
            if (!general->filterBox->isChecked()) general->filterBox->click();
            general->filterEdit->setText(" WAV; aiff ");
            sheet->TabBar()->setCurrentIndex(2);
            auto* wav = PageOf<WavPage>(*sheet, 2);
            Choose(wav->presetList, "Custom");
            Choose(wav->rateList, "22050 Hz");
            ClickRadio(wav->channelGroup, 1);
            wav->amplify.box->click();
            wav->amplify.edit->setText("50");
            sheet->TabBar()->setCurrentIndex(4);
            ClickOk(*sheet);
        });
        driver.start();
        const bool ok = ShowOptionsSheet(nullptr, s, store);
        driver.stop();
        QVERIFY(driven);
        QVERIFY(ok);
        QCOMPARE(s.OptStartPageIndex, 4);
        QCOMPARE(s.filterExtList, (std::vector<std::string>{"wav", "aiff"}));
        QVERIFY(fs::exists(conf));

        // The next start reads the file.
        RegistryStore again;
        QVERIFY(again.Load(conf) == RegistryStore::LoadStatus::Loaded);
        ConvertSettings next;
        pelloran::LoadSettings(next, again);
        QCOMPARE(next.DestOutputFolderOpt, 399);
        QCOMPARE(next.DestSpecifiedFolder, dir / "out");
        QCOMPARE(next.BrowseOutputFolder, 0);
        QCOMPARE(next.EnableExtFilter, 1);
        QCOMPARE(next.FilterExts, std::string("WAV,aiff"));
        QCOMPARE(next.wav.automatic, 0);
        QCOMPARE(next.wav.rate, 22050);
        QCOMPARE(next.wav.channels, 1);
        QCOMPARE(next.wav.bits, 16);
        QCOMPARE(next.wav.amplify, 1);
        QCOMPARE(next.wav.gain, 50);

        // A conversion to WAV uses them.
        next.OutputFormat = pelloran::kOutputWav;
        const std::string source = dir / "tone.wav";
        pelloran::test::WriteSineWav(source, 44100, 2, 0.5);
        pelloran::FileItem item;
        item.sourcePath = source;
        item.formatCode = pelloran::kInputWav;
        std::vector<pelloran::FileItem*> items = {&item};
        pelloran::NullProgress progress;
        QuietObserver observer(1);
        const pelloran::RunSummary summary =
            pelloran::RunConversion(items, next, progress, observer, pelloran::RunOptions{});
        QCOMPARE(summary.succeeded, size_t(1));
        QVERIFY(observer.shown.empty());
        const std::string target = dir / "out/tone.wav";
        QCOMPARE(item.targetPath, target);
        const auto out = pelloran::test::DecodeWithSndfile(target);
        QCOMPARE(out.rate, 22050);
        QCOMPARE(out.channels, 1);
        QVERIFY(out.samples.size() > 10000 && out.samples.size() < 12000);
        // Half the level of the source's (L+R)/2 mix.
        const auto in = pelloran::test::DecodeWithSndfile(source);
        int mixPeak = 0, outPeak = 0;
        for (size_t i = 0; i + 1 < in.samples.size(); i += 2)
            mixPeak = std::max(mixPeak, std::abs((int(in.samples[i]) + int(in.samples[i + 1])) / 2));
        for (int16_t v : out.samples) outPeak = std::max(outPeak, std::abs(int(v)));
        QVERIFY2(outPeak > mixPeak * 0.45 && outPeak < mixPeak * 0.55,
                 qPrintable(QString("peak %1 of mix %2").arg(outPeak).arg(mixPeak)));
    }

    // A column of labels is as wide as its longest label, not wider: the controls beside it start right
    // after the words, on every page and in every group.
    void labelColumnsAreNoWiderThanTheirLabels() {
        for (int index = 0; index < OptionsSheetDialog::kPageCount; ++index) {
            TestHooks t;
            ConvertSettings s;
            s.OptStartPageIndex = index;
            OptionsSheetDialog sheet(s, t.hooks);
            sheet.show();
            QVERIFY(QTest::qWaitForWindowExposed(&sheet));
            for (QGridLayout* grid : sheet.Page(index)->findChildren<QGridLayout*>()) {
                int widest = 0, column = -1;
                for (int i = 0; i < grid->count(); ++i) {
                    int row, col, rows, cols;
                    grid->getItemPosition(i, &row, &col, &rows, &cols);
                    auto* label = qobject_cast<QLabel*>(grid->itemAt(i)->widget());
                    if (col != 0 || cols != 1 || grid->itemAt(i)->widget() == nullptr) continue;
                    if (label == nullptr || !label->isVisible()) {
                        widest = -1;  // not a column of labels
                        break;
                    }
                    widest = std::max(widest, label->sizeHint().width());
                    column = row;
                }
                if (widest <= 0 || grid->columnCount() < 2) continue;
                const int width = grid->cellRect(column, 0).width();
                QVERIFY2(width <= widest + 2, qPrintable(QString("page %1, column of %2: %3 for labels of %4")
                                                             .arg(index).arg(grid->parentWidget()->objectName())
                                                             .arg(width).arg(widest)));
            }
        }
    }
};

PELLORAN_OPTIONS_TEST_MAIN(SheetTest)
#include "sheet_test.moc"

using namespace pelloran;
