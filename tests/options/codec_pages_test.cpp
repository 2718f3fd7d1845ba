// The AAC, MP4, AMR and WMA pages.

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "OptionsTestSupport.h"
#include "gui/options/AmrPage.h"
#include "gui/options/AacPage.h"
#include "gui/options/WmaPage.h"
#include "gui/options/StepSpinCtrl.h"
#include "gui/options/TagEditDialog.h"

using pelloran::ConvertSettings;

namespace {

ConvertSettings AacManual(int vbr) {
    ConvertSettings s;
    s.aac.automatic = 0;
    s.aac.mode = vbr;
    return s;
}

}  // namespace

class CodecPagesTest : public QObject {
    Q_OBJECT

private slots:
    void aacQualityIsCheckedOnlyForManualVbr() {
        TestHooks t;
        AacPage page(AacManual(1), t.hooks);
        page.EnsureCreated();
        QCOMPARE(page.qualitySpin->Lower(), 10);
        QCOMPARE(page.qualitySpin->Upper(), 500);
        QCOMPARE(page.qualitySpin->Step(), 10);
        page.qualityEdit->setText("505");
        PageRefusal refusal;
        QVERIFY(!page.KillActive(refusal));
        QCOMPARE(refusal.message, QString("Invalid quality value. It's betwen 10 and 500."));
        QCOMPARE(refusal.focus, static_cast<QWidget*>(page.qualityEdit));

        ClickRadio(page.modeGroup, 0);  // ABR
        QVERIFY(page.KillActive(refusal));
        ClickRadio(page.modeGroup, 1);
        QVERIFY(!page.KillActive(refusal));
        page.autoBox->click();
        QVERIFY(page.KillActive(refusal));
    }

    void aacEnablingFollowsAutoAndTheRateMode() {
        TestHooks t;
        AacPage page(AacManual(0), t.hooks);
        page.EnsureCreated();
        QVERIFY(page.bitRateList->isEnabled());
        QVERIFY(!page.qualityEdit->isEnabled());
        QVERIFY(!page.qualitySpin->isEnabled());
        QVERIFY(page.mpegGroup->button(1)->isEnabled());
        ClickRadio(page.modeGroup, 1);
        QVERIFY(!page.bitRateList->isEnabled());
        QVERIFY(page.qualityEdit->isEnabled());
        QVERIFY(page.qualitySpin->isEnabled());
        page.autoBox->click();
        for (QWidget* w : {static_cast<QWidget*>(page.bitRateList), static_cast<QWidget*>(page.qualityEdit),
                           static_cast<QWidget*>(page.tnsBox), static_cast<QWidget*>(page.midsideBox),
                           static_cast<QWidget*>(page.modeGroup->button(0)),
                           static_cast<QWidget*>(page.mpegGroup->button(0)),
                           static_cast<QWidget*>(page.blockGroup->button(2))})
            QVERIFY(!w->isEnabled());
        // Auto chooses every parameter: their groups go, and come back without it.
        QVERIFY(page.bitRateList->parentWidget()->isHidden() && page.tnsBox->parentWidget()->isHidden());
        QVERIFY(!page.autoBox->isHidden());
        page.autoBox->click();
        QVERIFY(!page.bitRateList->parentWidget()->isHidden() && !page.tnsBox->parentWidget()->isHidden());
    }

    void aacResetKeepsAmplificationAndSelects128() {
        TestHooks t;
        ConvertSettings s = AacManual(0);
        s.aac.bitRate = 64;
        s.aac.mpegVersion = 1;
        s.aac.tns = 1;
        s.aac.midside = 0;
        s.aac.blockType = 2;
        s.aac.amplify = 1;
        s.aac.gain = 250;
        AacPage page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(Selected(page.bitRateList), QString("64 kbps"));
        page.resetButton->click();
        QCOMPARE(Selected(page.bitRateList), QString("128 kbps"));
        QVERIFY(page.autoBox->isChecked());
        QCOMPARE(page.modeGroup->checkedId(), 1);
        QCOMPARE(page.qualityEdit->text(), QString("100"));
        QCOMPARE(page.mpegGroup->checkedId(), 0);
        QVERIFY(!page.tnsBox->isChecked());
        QVERIFY(page.midsideBox->isChecked());
        QCOMPARE(page.blockGroup->checkedId(), 0);
        QVERIFY(!page.bitRateList->isEnabled());
        QVERIFY(page.amplify.box->isChecked());
        QCOMPARE(page.amplify.edit->text(), QString("250"));

        // With Auto on, only the flag goes back; the detailed values stay as they were.
        page.Apply();
        ConvertSettings out = s;
        page.CopyBack(out);
        QCOMPARE(out.aac.automatic, 1);
        QCOMPARE(out.aac.bitRate, 64);
        QCOMPARE(out.aac.mpegVersion, 1);
        QCOMPARE(out.aac.blockType, 2);
        QCOMPARE(out.aac.amplify, 1);
        QCOMPARE(out.aac.gain, 250);
    }

    void aacStoredBitRatesOutsideTheList() {
        TestHooks t;
        ConvertSettings s = AacManual(0);
        s.aac.bitRate = 0;
        AacPage same(s, t.hooks);
        same.EnsureCreated();
        QCOMPARE(Selected(same.bitRateList), QString("Same as original file"));
        s.aac.bitRate = 100;
        AacPage odd(s, t.hooks);
        odd.EnsureCreated();
        QCOMPARE(Selected(odd.bitRateList), QString("16 kbps"));
        QVERIFY(Choose(odd.bitRateList, "320 kbps"));
        ClickRadio(odd.blockGroup, 1);
        odd.Apply();
        ConvertSettings out;
        odd.CopyBack(out);
        QCOMPARE(out.aac.automatic, 0);
        QCOMPARE(out.aac.bitRate, 320);
        QCOMPARE(out.aac.mode, 0);
        QCOMPARE(out.aac.blockType, 1);
    }

    void mp4PageHasTagsWithoutCopyrightAndNoMpegVersion() {
        TestHooks t;
        ConvertSettings s;
        s.m4a.tagType = 0;
        s.m4a.tags.Copyright = "(c) kept";
        s.m4a.automatic = 0;
        s.m4a.mode = 1;
        s.m4a.quality = 150;
        M4aPage page(s, t.hooks);
        QCOMPARE(page.TabText(), QString("MP4/M4A/M4B Options"));
        page.EnsureCreated();
        QVERIFY(page.mpegGroup == nullptr);
        QCOMPARE(page.tags.group->button(1)->text(), QString("Trans&fer tags from source file"));
        QCOMPARE(page.tags.group->button(2)->text(), QString("Non&e"));
        QCOMPARE(page.tags.editButton->text(), QString("E&dit tags"));
        QVERIFY(page.tags.editButton->isEnabled());
        bool copyrightHidden = false;
        t.onDialog = [&copyrightHidden](QDialog& dialog) {
            auto& editor = static_cast<TagEditDialog&>(dialog);
            copyrightHidden = editor.copyrightEdit->isHidden();
            editor.titleEdit->setText("Song");
            editor.accept();
            return true;
        };
        page.tags.editButton->click();
        QVERIFY(copyrightHidden);
        page.qualityEdit->setText("200");
        PageRefusal refusal;
        QVERIFY(page.KillActive(refusal));
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.m4a.quality, 200);
        QCOMPARE(out.m4a.tags.Title, std::string("Song"));
        QCOMPARE(out.m4a.tags.Copyright, std::string("(c) kept"));
        QCOMPARE(out.aac.quality, 100);  // the AAC fields are not this page's
    }

    void amrOpensOnFallbackModesAndSwitchesBands() {
        TestHooks t;
        ConvertSettings s;
        s.amr.nbMode = 9;
        s.amr.wbMode = 2;
        s.amr.awbMode = -1;
        AmrPage page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(Selected(page.nbList), QString("7.4 kbps"));
        QCOMPARE(Selected(page.wbList), QString("12.65 kbps"));
        QCOMPARE(Selected(page.awbList), QString("15.85 kbps"));
        QCOMPARE(page.nbList->itemText(1), QString("5.15kbps"));
        QCOMPARE(page.wbList->count(), 9);
        QVERIFY(page.nbList->isEnabled());
        QVERIFY(!page.wbList->isEnabled());
        QVERIFY(page.awbList->isEnabled());
        ClickRadio(page.bandGroup, 1);
        QVERIFY(!page.nbList->isEnabled());
        QVERIFY(page.wbList->isEnabled());
        QVERIFY(page.awbList->isEnabled());
        QVERIFY(Choose(page.wbList, "23.85 kbps"));
        page.awbDtxBox->click();
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.amr.band, 1);
        QCOMPARE(out.amr.nbMode, 4);
        QCOMPARE(out.amr.wbMode, 8);
        QCOMPARE(out.amr.awbMode, 4);
        QCOMPARE(out.amr.awbDtx, 1);
        QCOMPARE(out.amr.dtx, 0);
    }

    void wmaOffersTheLayersFormatsOfAtLeast1000Bps() {
        TestHooks t;
        t.wmaFormats = {{8000, 500, 1}, {22050, 32000, 1}, {44100, 128000, 2}, {44100, 128999, 2}};
        ConvertSettings s;
        s.wma.automatic = 0;
        s.wma.rate = 44100;
        s.wma.bitRate = 128500;
        s.wma.channels = 2;
        WmaPage page(s, t.hooks);
        QCOMPARE(t.wmaCalls, 0);  // the layer is asked only when the page is first shown
        page.EnsureCreated();
        QCOMPARE(t.wmaCalls, 1);
        QCOMPARE(page.formatList->count(), 4);
        QCOMPARE(page.formatList->itemText(0), QString("Auto"));
        QCOMPARE(page.formatList->itemText(1), QString("22050 Hz, 32 kbps, Mono"));
        QCOMPARE(page.formatList->itemText(2), QString("44100 Hz, 128 kbps, Stereo"));
        QCOMPARE(page.formatList->currentIndex(), 3);  // the last match stays selected
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.wma.automatic, 0);
        QCOMPARE(out.wma.bitRate, 128999);

        QVERIFY(Choose(page.formatList, "22050 Hz, 32 kbps, Mono"));
        page.Apply();
        page.CopyBack(out);
        QCOMPARE(out.wma.rate, 22050);
        QCOMPARE(out.wma.bitRate, 32000);
        QCOMPARE(out.wma.channels, 1);
        QVERIFY(Choose(page.formatList, "Auto"));
        page.Apply();
        page.CopyBack(out);
        QCOMPARE(out.wma.automatic, 1);
        QCOMPARE(out.wma.rate, 22050);
    }

    void wmaFormatNoLongerOfferedTurnsAutoOn() {
        TestHooks t;
        t.wmaFormats = {{44100, 128000, 2}};
        ConvertSettings s;
        s.wma.automatic = 0;
        s.wma.rate = 48000;
        s.wma.bitRate = 192000;
        s.wma.channels = 2;
        WmaPage page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(page.formatList->currentIndex(), -1);
        page.Apply();
        ConvertSettings out = s;
        page.CopyBack(out);
        QCOMPARE(out.wma.automatic, 1);
        QCOMPARE(out.wma.rate, 48000);
        QCOMPARE(out.wma.bitRate, 192000);

        // Without the layer only "Auto" is offered.
        t.wmaFormats.clear();
        WmaPage bare(ConvertSettings{}, t.hooks);
        bare.EnsureCreated();
        QCOMPARE(bare.formatList->count(), 1);
        QCOMPARE(Selected(bare.formatList), QString("Auto"));
    }

};

PELLORAN_OPTIONS_TEST_MAIN(CodecPagesTest)
#include "codec_pages_test.moc"

using namespace pelloran;
