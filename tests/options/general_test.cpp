// The General page: output folder, existing targets, extension filter, the mono explanation.

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <thread>

#include "OptionsTestSupport.h"
#include "frontend/Wording.h"
#include "tests/support/TestSupport.h"
#include "gui/options/OutputPage.h"

using pelloran::ConvertSettings;

namespace {

// Settings that do not depend on the user's documents folder.
ConvertSettings Plain() {
    ConvertSettings s;
    s.DestOutputFolderOpt = 199;
    s.DestSpecifiedFolder = "/music/out/";
    return s;
}

}  // namespace

class GeneralPageTest : public QObject {
    Q_OBJECT

private slots:
    void extensionTextIsNormalisedInTheMemberAndTheEdit() {
        TestHooks t;
        ConvertSettings s = Plain();
        s.EnableExtFilter = 1;
        s.FilterExts = " mp3;\t wav ";
        OutputPage page(s, t.hooks);
        page.EnsureCreated();
        PageRefusal refusal;
        QVERIFY(page.KillActive(refusal));
        QCOMPARE(page.filterEdit->text(), QString("mp3,wav"));
        page.Apply();
        ConvertSettings out = Plain();
        page.CopyBack(out);
        QCOMPARE(out.FilterExts, std::string("mp3,wav"));
        QCOMPARE(out.EnableExtFilter, 1);
        QCOMPARE(OutputPage::NormaliseExtensions("a b;;c\t"), QString("ab,,c"));
    }

    void emptyFilterIsRefusedOnlyWhenTheFilterIsOn() {
        TestHooks t;
        ConvertSettings s = Plain();
        s.EnableExtFilter = 1;
        s.FilterExts = "   ";
        OutputPage page(s, t.hooks);
        page.EnsureCreated();
        PageRefusal refusal;
        QVERIFY(!page.KillActive(refusal));
        QCOMPARE(refusal.message, QString("Please enter file extensions you need to filter."));
        QCOMPARE(refusal.focus, static_cast<QWidget*>(page.filterEdit));

        // Clearing the box disables the edit; the blank text is then accepted as empty.
        page.filterBox->click();
        QVERIFY(!page.filterEdit->isEnabled());
        QVERIFY(page.KillActive(refusal));
        ConvertSettings out = Plain();
        page.CopyBack(out);
        QCOMPARE(out.FilterExts, std::string());
        QCOMPARE(out.EnableExtFilter, 0);
        page.filterBox->click();
        QVERIFY(page.filterEdit->isEnabled());
    }

    // The pattern shows, as it is typed, the name a tagged sample gets, or why the pattern cannot be used.
    void patternShowsAnExampleAsItIsTyped() {
        TestHooks t;
        OutputPage page(Plain(), t.hooks);
        page.EnsureCreated();
        const struct {
            const char* pattern;
            const char* example;
        } cases[] = {
            {"", "Example: the source's own name"},
            {"{artist}/{album}/{track:02} - {title}", "Example: Ana Lima/First Light/01 - Intro.mp3"},
            {"{composer|Unknown}/{stem}", "Example: Unknown/track01.mp3"},
            {"{nope}", "Cannot be used: unknown field {nope} in the name pattern"},
        };
        for (const auto& c : cases) {
            page.patternEdit->setText(QString::fromUtf8(c.pattern));
            QCOMPARE(page.patternExample->text(), QString::fromUtf8(c.example));
        }
    }

    void customFolderMustNotBeEmpty() {
        TestHooks t;
        ConvertSettings s = Plain();
        s.DestSpecifiedFolder.clear();
        OutputPage page(s, t.hooks);
        page.EnsureCreated();
        QVERIFY(!page.folderEdit->isEnabled());
        QVERIFY(!page.browseButton->isEnabled());
        QVERIFY(!page.createDirsBox->isEnabled());
        PageRefusal refusal;
        QVERIFY(page.KillActive(refusal));  // beside the source: no folder needed

        QVERIFY(Choose(page.folderList, "A custom folder"));
        QVERIFY(page.folderEdit->isEnabled());
        QVERIFY(page.openButton->isEnabled());
        QVERIFY(page.exampleText->isEnabled());
        QVERIFY(!page.KillActive(refusal));
        QCOMPARE(refusal.message, QString("Please choose an output folder."));
        QCOMPARE(refusal.focus, static_cast<QWidget*>(page.folderEdit));

        page.folderEdit->setText("/srv/out/");
        QVERIFY(page.KillActive(refusal));
        page.Apply();
        ConvertSettings out = Plain();
        page.CopyBack(out);
        QCOMPARE(out.DestOutputFolderOpt, 399);
        QCOMPARE(out.DestSpecifiedFolder, std::string("/srv/out/"));
    }

    void unknownStoredChoicesFallBackToTheFirstItems() {
        TestHooks t;
        ConvertSettings s = Plain();
        s.DestOutputFolderOpt = 5;
        s.TargetExistsOpt = 44;
        s.MonoType = 2;
        OutputPage page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(Selected(page.folderList), QString("Same as original file"));
        QCOMPARE(Selected(page.existsList), QString("Auto rename (add number at end of file name)"));
        QCOMPARE(page.monoGroup->checkedId(), 2);
        QCOMPARE(page.existsList->count(), 3);
        QCOMPARE(page.existsList->itemText(2), QString("Skip (not convert)"));
        PageRefusal refusal;
        QVERIFY(page.KillActive(refusal));
        ConvertSettings out = Plain();
        page.CopyBack(out);
        QCOMPARE(out.DestOutputFolderOpt, 199);
        QCOMPARE(out.TargetExistsOpt, 11);
        QCOMPARE(out.MonoType, 2);

        QVERIFY(Choose(page.existsList, "Overwrite"));
        ClickRadio(page.monoGroup, 1);
        QVERIFY(page.KillActive(refusal));
        page.CopyBack(out);
        QCOMPARE(out.TargetExistsOpt, 22);
        QCOMPARE(out.MonoType, 1);
    }

    void browseTakesThePickedFolderWithATrailingSlash() {
        TestHooks t;
        ConvertSettings s = Plain();
        s.DestOutputFolderOpt = 399;
        OutputPage page(s, t.hooks);
        page.EnsureCreated();
        t.pickedFolder.clear();  // cancelled
        page.browseButton->click();
        QCOMPARE(t.pickerStart, QString("/music/out"));
        QCOMPARE(page.folderEdit->text(), QString("/music/out/"));
        t.pickedFolder = "/home/ana/Converted";
        page.browseButton->click();
        QCOMPARE(page.folderEdit->text(), QString("/home/ana/Converted/"));
    }

    void openShowsAnExistingFolderOrExplainsAMissingOne() {
        TestHooks t;
        pelloran::test::TempDir dir;
        ConvertSettings s = Plain();
        s.DestOutputFolderOpt = 399;
        s.DestSpecifiedFolder = dir / "not-yet";
        OutputPage page(s, t.hooks);
        page.EnsureCreated();
        page.openButton->click();
        QVERIFY(t.opened.empty());
        QCOMPARE(t.messages.size(), size_t(1));
        QCOMPARE(t.messages[0].icon, QMessageBox::Warning);
        QCOMPARE(t.messages[0].text,
                 QString("The folder \"%1\" doesn't exist yet.\n\nNote: the program will create the folder "
                         "automatically when converting files.")
                     .arg(QString::fromStdString(dir / "not-yet")));
        page.folderEdit->setText(QString::fromStdString(dir.path().string()));
        page.openButton->click();
        QCOMPARE(t.opened.size(), size_t(1));
        QCOMPARE(t.opened[0], QString::fromStdString(dir.path().string()));
    }

    void simultaneousConversionsStartAtTheProcessorsAndAreCopiedBack() {
        TestHooks t;
        const ConvertSettings defaults;
        QCOMPARE(defaults.ParallelJobs, int(std::clamp(std::thread::hardware_concurrency(), 1u, 64u)));
        ConvertSettings s = Plain();
        s.ParallelJobs = 3;
        OutputPage page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(page.jobsSpin->value(), 3);
        QCOMPARE(page.jobsSpin->minimum(), 1);
        QCOMPARE(page.jobsSpin->maximum(), 64);
        page.jobsSpin->setValue(7);
        page.Apply();
        ConvertSettings out = Plain();
        page.CopyBack(out);
        QCOMPARE(out.ParallelJobs, 7);
        // Stored out of range, the default stays.
        std::string error;
        QVERIFY(!pelloran::SetSettingByName(out, "ParallelJobs", "0", error));
        QCOMPARE(out.ParallelJobs, 7);
    }

    void verifyEachOutputIsOffByDefaultAndCopiedBack() {
        TestHooks t;
        QCOMPARE(ConvertSettings{}.VerifyOutput, 0);
        OutputPage page(Plain(), t.hooks);
        page.EnsureCreated();
        QVERIFY(!page.verifyBox->isChecked());
        page.verifyBox->click();
        page.Apply();
        ConvertSettings out = Plain();
        page.CopyBack(out);
        QCOMPARE(out.VerifyOutput, 1);
    }

    void fileNamePatternIsCheckedAndCopiedBack() {
        TestHooks t;
        OutputPage page(Plain(), t.hooks);
        page.EnsureCreated();
        PageRefusal refusal;
        page.patternEdit->setText(QStringLiteral("../{stem}"));
        QVERIFY(!page.KillActive(refusal));
        QVERIFY(refusal.message.contains(QStringLiteral("leaves the output folder")));
        QCOMPARE(refusal.focus, static_cast<QWidget*>(page.patternEdit));
        page.patternEdit->setText(QStringLiteral("{artist|Unknown}/{track:02} {title}"));
        QVERIFY(page.KillActive(refusal));
        ConvertSettings out = Plain();
        page.CopyBack(out);
        QCOMPARE(out.OutputNamePattern, std::string("{artist|Unknown}/{track:02} {title}"));
    }
};

PELLORAN_OPTIONS_TEST_MAIN(GeneralPageTest)
#include "general_test.moc"

using namespace pelloran;
