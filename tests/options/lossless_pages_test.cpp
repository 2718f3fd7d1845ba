// The FLAC and Opus pages, ALAC on the MP4 page, and the quality modes of the MP3 and OGG pages.

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>

#include "OptionsTestSupport.h"
#include "gui/options/AacPage.h"
#include "gui/options/FlacPage.h"
#include "gui/options/Mp3Page.h"
#include "gui/options/OggPage.h"
#include "gui/options/OpusPage.h"

using pelloran::ConvertSettings;

class LosslessPagesTest : public QObject {
    Q_OBJECT

private slots:
    void flacPageShowsTheSourceChoicesAndCopiesBack() {
        TestHooks t;
        FlacPage page(ConvertSettings{}, t.hooks);
        page.EnsureCreated();
        QCOMPARE(Selected(page.levelList), QString("5 (default)"));
        QCOMPARE(page.levelList->count(), 9);
        QCOMPARE(Selected(page.rateList), QString("Same as original file"));
        QCOMPARE(Selected(page.widthList), QString("Same as original file"));
        QCOMPARE(page.channelGroup->checkedId(), 2);
        QVERIFY(Choose(page.levelList, "8 (smallest)"));
        QVERIFY(Choose(page.widthList, "16 bits"));
        QVERIFY(Choose(page.rateList, "48000 Hz"));
        ClickRadio(page.channelGroup, 1);
        page.Apply();
        ConvertSettings s;
        page.CopyBack(s);
        QCOMPARE(s.flac.compression, 8);
        QCOMPARE(s.flac.bits, 16);
        QCOMPARE(s.flac.rate, 48000);
        QCOMPARE(s.flac.channels, 1);
        QCOMPARE(s.flac.tagType, 1);
    }

    void opusPageKeepsAutoUntilARateIsChosen() {
        TestHooks t;
        OpusPage page(ConvertSettings{}, t.hooks);
        page.EnsureCreated();
        QCOMPARE(Selected(page.bitRateList), QString("Auto (128 kbps stereo, 64 kbps mono)"));
        QCOMPARE(page.modeGroup->checkedId(), 0);
        QCOMPARE(Selected(page.complexityList), QString("10 (best, default)"));
        ConvertSettings s;
        page.Apply();
        page.CopyBack(s);
        QCOMPARE(s.opus.automatic, 1);
        QVERIFY(Choose(page.bitRateList, "96 kbps"));
        ClickRadio(page.modeGroup, 2);
        page.Apply();
        page.CopyBack(s);
        QCOMPARE(s.opus.automatic, 0);
        QCOMPARE(s.opus.bitRate, 96);
        QCOMPARE(s.opus.mode, 2);
        // A stored rate between the list's shows as the next one up.
        ConvertSettings odd;
        odd.opus.automatic = 0;
        odd.opus.bitRate = 100;
        OpusPage other(odd, t.hooks);
        other.EnsureCreated();
        QCOMPARE(Selected(other.bitRateList), QString("112 kbps"));
    }

    void m4aPageChoosingAlacTurnsTheAacControlsOff() {
        TestHooks t;
        ConvertSettings s;
        s.m4a.automatic = 0;
        M4aPage page(s, t.hooks);
        page.EnsureCreated();
        QVERIFY(page.codecGroup);
        QCOMPARE(page.codecGroup->checkedId(), 0);
        QVERIFY(page.tnsBox->isEnabled());
        ClickRadio(page.codecGroup, 1);
        QVERIFY(!page.autoBox->isEnabled());
        QVERIFY(!page.tnsBox->isEnabled());
        QVERIFY(!page.modeGroup->button(0)->isEnabled());
        page.Apply();
        page.CopyBack(s);
        QCOMPARE(s.m4a.codec, 1);
        ClickRadio(page.codecGroup, 0);
        QVERIFY(page.tnsBox->isEnabled());
        // The AAC page has no codec choice.
        AacPage aac(ConvertSettings{}, t.hooks);
        aac.EnsureCreated();
        QVERIFY(!aac.codecGroup);

        // With ALAC as the output format the page shows ALAC, decided, and leaves the stored codec alone.
        ConvertSettings alac;
        alac.OutputFormat = pelloran::kOutputAlac;
        M4aPage decided(alac, t.hooks);
        decided.EnsureCreated();
        QCOMPARE(decided.codecGroup->checkedId(), 1);
        QVERIFY(!decided.codecGroup->button(0)->isEnabled() && !decided.codecGroup->button(1)->isEnabled());
        QVERIFY(!decided.tnsBox->isEnabled());
        decided.Apply();
        decided.CopyBack(alac);
        QCOMPARE(alac.m4a.codec, 0);
    }

    void mp3AndOggQualityModes() {
        TestHooks t;
        Mp3Page mp3(ConvertSettings{}, t.hooks);
        mp3.EnsureCreated();
        QVERIFY(!mp3.vbrQualityList->isEnabled());
        QVERIFY(mp3.infoTagBox->isEnabled() && mp3.infoTagBox->isChecked());
        QVERIFY(Choose(mp3.modeList, "VBR (variable, by quality)"));
        QVERIFY(mp3.vbrQualityList->isEnabled());
        QVERIFY(!mp3.infoTagBox->isEnabled());  // VBR always has it
        QVERIFY(Choose(mp3.vbrQualityList, "V0 (best)"));
        ConvertSettings s;
        mp3.Apply();
        mp3.CopyBack(s);
        QCOMPARE(s.mp3.mode, 1);
        QCOMPARE(s.mp3.quality, 0);

        OggPage ogg(ConvertSettings{}, t.hooks);
        ogg.EnsureCreated();
        QCOMPARE(ogg.modeGroup->checkedId(), 0);
        QVERIFY(!ogg.qualityList->isEnabled());
        ClickRadio(ogg.modeGroup, 1);
        QVERIFY(ogg.qualityList->isEnabled());
        QVERIFY(Choose(ogg.qualityList, "-1 (smallest)"));
        ogg.Apply();
        ogg.CopyBack(s);
        QCOMPARE(s.ogg.mode, 1);
        QCOMPARE(s.ogg.quality, -1);
    }
};

PELLORAN_OPTIONS_TEST_MAIN(LosslessPagesTest)
#include "lossless_pages_test.moc"

using namespace pelloran;
