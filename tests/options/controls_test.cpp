// The step spin control and the tag editor.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "OptionsTestSupport.h"
#include "media/TagRecord.h"
#include "gui/options/StepSpinCtrl.h"
#include "gui/options/TagEditDialog.h"

using pelloran::TagSettings;

class ControlsTest : public QObject {
    Q_OBJECT

private slots:
    void stepIsRefusedUnlessBelowTheRangeWidth() {
        StepSpinCtrl spin;
        QCOMPARE(spin.Step(), 1);
        spin.SetRange(10, 500);
        QVERIFY(spin.SetStep(10));
        QVERIFY(!spin.SetStep(490));  // equal to the width
        QVERIFY(!spin.SetStep(1000));
        QCOMPARE(spin.Step(), 10);
        QVERIFY(spin.SetStep(489));
    }

    void deltasMoveTheBuddyByTheStepWithinTheRange() {
        QLineEdit edit;
        StepSpinCtrl spin;
        spin.SetBuddy(&edit);
        spin.SetRange(10, 3000);
        spin.SetStep(10);
        edit.setText("100");
        spin.Delta(3);  // any positive change is one step up
        QCOMPARE(edit.text(), QString("110"));
        spin.Delta(-7);
        spin.Delta(0);  // not positive: down
        QCOMPARE(edit.text(), QString("90"));
        edit.setText("2995");
        spin.Delta(1);
        QCOMPARE(edit.text(), QString("3000"));
        edit.setText("5");
        spin.Delta(-1);
        QCOMPARE(edit.text(), QString("10"));
        // Arrow keys in the buddy step too.
        edit.setText("200");
        QTest::keyClick(&edit, Qt::Key_Up);
        QCOMPARE(edit.text(), QString("210"));
        QTest::keyClick(&edit, Qt::Key_Down);
        QTest::keyClick(&edit, Qt::Key_Down);
        QCOMPARE(edit.text(), QString("190"));
        // A disabled control does nothing.
        spin.setEnabled(false);
        spin.Delta(1);
        QCOMPARE(edit.text(), QString("190"));
    }

    void tagEditorShowsTheCopyAndItsEnabledStates() {
        TestHooks t;
        TagSettings tags;
        tags.TitleAsFileName = 1;
        tags.Title = "Kept";
        tags.Genre = "Synthpop";
        tags.TrackNumType = 1;
        tags.CustomTrackNum = 7;
        TagEditDialog dialog(tags, true, t.hooks);
        QCOMPARE(dialog.windowTitle(), QString("Edit Tags"));
        QVERIFY(!dialog.titleEdit->isEnabled());
        QVERIFY(!dialog.trackEdit->isEnabled());
        QVERIFY(!dialog.trackSpin->isEnabled());
        QCOMPARE(dialog.genreList->currentText(), QString("Synthpop"));
        QCOMPARE(dialog.genreList->count(), 148);
        // Sorted without regard to case.
        for (int i = 1; i < dialog.genreList->count(); ++i)
            QVERIFY(dialog.genreList->itemText(i - 1).compare(dialog.genreList->itemText(i), Qt::CaseInsensitive) <=
                    0);

        ClickRadio(dialog.trackGroup, 2);
        QVERIFY(dialog.trackEdit->isEnabled());
        QVERIFY(dialog.trackSpin->isEnabled());
        ClickRadio(dialog.trackGroup, 0);
        QVERIFY(!dialog.trackEdit->isEnabled());

        dialog.titleAsFileName->click();
        QVERIFY(dialog.titleEdit->isEnabled());
        dialog.titleAsFileName->click();
        QVERIFY(!dialog.titleEdit->isEnabled());
    }

    void tagEditorRefusesATrackNumberOutsideZeroTo255() {
        TestHooks t;
        TagSettings tags;
        tags.TrackNumType = 2;
        tags.CustomTrackNum = 3;
        TagEditDialog dialog(tags, true, t.hooks);
        dialog.trackEdit->setText("256");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(t.LastMessage(), QString("Please enter an integer between 0 and 255."));
        QCOMPARE(dialog.Tags().CustomTrackNum, 3);

        dialog.trackEdit->clear();
        dialog.accept();
        QCOMPARE(t.LastMessage(), QString("Please enter an integer."));
        QCOMPARE(t.messages.size(), size_t(2));

        dialog.trackEdit->setText("255");
        dialog.artistEdit->setText("Ana");
        dialog.genreList->setEditText("My Own Genre");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Tags().CustomTrackNum, 255);
        QCOMPARE(dialog.Tags().Artist, std::string("Ana"));
        QCOMPARE(dialog.Tags().Genre, std::string("My Own Genre"));
    }

    void trackNumberOfANonCustomTypeDoesNotBlockOk() {
        // A stored number out of range sits in a disabled field the user cannot correct.
        TestHooks t;
        TagSettings tags;
        tags.TrackNumType = 0;
        tags.CustomTrackNum = 1000;
        TagEditDialog dialog(tags, true, t.hooks);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(t.messages.empty());
        QCOMPARE(dialog.Tags().CustomTrackNum, 1000);
    }
};

PELLORAN_OPTIONS_TEST_MAIN(ControlsTest)
#include "controls_test.moc"

using namespace pelloran;
