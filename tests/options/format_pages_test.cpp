// The MP3, OGG and WAV pages: presets, the rate and bit-rate rules, channels, amplification, tags.

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "OptionsTestSupport.h"
#include "gui/options/Mp3Page.h"
#include "gui/options/OggPage.h"
#include "gui/options/WavPage.h"
#include "gui/options/StepSpinCtrl.h"
#include "gui/options/TagEditDialog.h"

using pelloran::ConvertSettings;

namespace {

const QString kMp3Cd = "44100Hz, 128 kbps, Joint Stereo (close to CD-quality, large size)";
const QString kOggCd = "44100Hz, 128 kbps, Stereo (close to CD-quality, large size)";
const QString kWavLow = "11025 Hz, 8 bits, Mono (low quality, smaller file size)";

ConvertSettings Mp3Custom(int bitRate, int rate, int mode) {
    ConvertSettings s;
    s.mp3.automatic = 0;
    s.mp3.bitRate = bitRate;
    s.mp3.rate = rate;
    s.mp3.channels = mode;
    return s;
}

}  // namespace

class FormatPagesTest : public QObject {
    Q_OBJECT

private slots:
    void mp3BitRateMovesTheSampleRate() {
        TestHooks t;
        Mp3Page page(Mp3Custom(128, 44100, 1), t.hooks);
        page.EnsureCreated();
        QCOMPARE(Selected(page.presetList), kMp3Cd);
        QVERIFY(Choose(page.valueList, "16 kbps"));
        QCOMPARE(Selected(page.rateList), QString("24000 Hz"));
        QCOMPARE(Selected(page.presetList), QString("Custom"));

        Mp3Page other(Mp3Custom(128, 44100, 1), t.hooks);
        other.EnsureCreated();
        QVERIFY(Choose(other.valueList, "64 kbps"));
        QCOMPARE(Selected(other.rateList), QString("44100 Hz"));
        QCOMPARE(Selected(other.presetList), QString("Custom"));
        // Up to 192 kbps and more, a low rate rises to 32000.
        QVERIFY(Choose(other.rateList, "16000 Hz"));
        QVERIFY(Choose(other.valueList, "256 kbps"));
        QCOMPARE(Selected(other.rateList), QString("32000 Hz"));
    }

    void mp3SampleRateMovesTheBitRate() {
        TestHooks t;
        Mp3Page page(Mp3Custom(128, 44100, 1), t.hooks);
        page.EnsureCreated();
        QVERIFY(Choose(page.rateList, "8000 Hz"));
        QCOMPARE(Selected(page.valueList), QString("64 kbps"));
        QCOMPARE(Selected(page.presetList), QString("Custom"));

        Mp3Page other(Mp3Custom(128, 44100, 1), t.hooks);
        other.EnsureCreated();
        QVERIFY(Choose(other.rateList, "32000 Hz"));
        QCOMPARE(Selected(other.valueList), QString("128 kbps"));
        QCOMPARE(Mp3Page::BitRateForRate(22050, 320), 160);
        QCOMPARE(Mp3Page::BitRateForRate(48000, 8), 32);
    }

    void mp3FollowingTheSourceBitRateLeavesThePresetAlone() {
        TestHooks t;
        Mp3Page page(Mp3Custom(128, 44100, 1), t.hooks);
        page.EnsureCreated();
        QVERIFY(Choose(page.valueList, "Same as original file"));
        QCOMPARE(Selected(page.presetList), kMp3Cd);
        QVERIFY(Choose(page.rateList, "22050 Hz"));
        QCOMPARE(Selected(page.presetList), kMp3Cd);
        QCOMPARE(Selected(page.valueList), QString("Same as original file"));
    }

    void mp3OpensOnAFixedPresetOnlyWhenAllThreeMatch() {
        TestHooks t;
        Mp3Page mono(Mp3Custom(16, 11025, 3), t.hooks);
        mono.EnsureCreated();
        QCOMPARE(Selected(mono.presetList), QString("11025 Hz, 16 kbps, Mono (low quality, smaller file size)"));
        Mp3Page stereo(Mp3Custom(16, 11025, 0), t.hooks);
        stereo.EnsureCreated();
        QCOMPARE(Selected(stereo.presetList), QString("Custom"));
        QCOMPARE(stereo.channelGroup->checkedId(), 1);
        // A stored bit rate not in the list shows the first item; "Same as original file" ends the lists.
        Mp3Page odd(Mp3Custom(100, 0, 4), t.hooks);
        odd.EnsureCreated();
        QCOMPARE(Selected(odd.valueList), QString("8 kbps"));
        QCOMPARE(Selected(odd.rateList), QString("Same as original file"));
        QCOMPARE(odd.channelGroup->checkedId(), 3);
    }

    void mp3PresetsFillTheDetailsAndAutoDisablesThem() {
        TestHooks t;
        ConvertSettings s;  // Auto
        Mp3Page page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(page.presetList->currentIndex(), 0);
        QVERIFY(!page.valueList->isEnabled());
        QVERIFY(!page.rateList->isEnabled());
        QVERIFY(!page.channelGroup->button(0)->isEnabled());

        QVERIFY(Choose(page.presetList, "22050 Hz, 32 kbps, Joint Stereo (OK quality, small size)"));
        QVERIFY(page.valueList->isEnabled());
        QVERIFY(page.channelGroup->button(2)->isEnabled());
        QCOMPARE(Selected(page.valueList), QString("32 kbps"));
        QCOMPARE(Selected(page.rateList), QString("22050 Hz"));
        QCOMPARE(page.channelGroup->checkedId(), 0);

        ClickRadio(page.channelGroup, 2);  // Mono
        QCOMPARE(Selected(page.presetList), QString("Custom"));
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.mp3.automatic, 0);
        QCOMPARE(out.mp3.bitRate, 32);
        QCOMPARE(out.mp3.rate, 22050);
        QCOMPARE(out.mp3.channels, 3);

        QVERIFY(Choose(page.presetList, "Auto"));
        QVERIFY(!page.valueList->isEnabled());
        QVERIFY(!page.channelGroup->button(2)->isEnabled());
    }

    void mp3TagButtonsFollowTheTagType() {
        TestHooks t;
        ConvertSettings s;
        s.mp3.tagType = 1;
        s.mp3.tags.Artist = "Old";
        Mp3Page page(s, t.hooks);
        page.EnsureCreated();
        QVERIFY(!page.tags.editButton->isEnabled());
        QVERIFY(page.versionGroup->button(0)->isEnabled());
        QCOMPARE(page.versionGroup->checkedId(), 1);
        ClickRadio(page.tags.group, 2);
        QVERIFY(!page.versionGroup->button(0)->isEnabled());
        QVERIFY(!page.tags.editButton->isEnabled());
        ClickRadio(page.tags.group, 0);
        QVERIFY(page.versionGroup->button(2)->isEnabled());
        QVERIFY(page.tags.editButton->isEnabled());

        // Cancel discards the editor's changes, OK keeps them.
        t.onDialog = [](QDialog& dialog) {
            static_cast<TagEditDialog&>(dialog).artistEdit->setText("Dropped");
            return false;
        };
        page.tags.editButton->click();
        bool copyrightShown = false;
        t.onDialog = [&copyrightShown](QDialog& dialog) {
            auto& editor = static_cast<TagEditDialog&>(dialog);
            copyrightShown = !editor.copyrightEdit->isHidden();
            editor.artistEdit->setText("New");
            editor.accept();
            return editor.result() == QDialog::Accepted;
        };
        page.tags.editButton->click();
        QVERIFY(copyrightShown);
        ClickRadio(page.versionGroup, 2);
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.mp3.tags.Artist, std::string("New"));
        QCOMPARE(out.mp3.tagType, 0);
        // Merge edits the own fields too; the cover switch counts where the source's tags travel.
        QVERIFY(!page.tags.coverBox->isEnabled());
        ClickRadio(page.tags.group, 3);
        QVERIFY(page.tags.editButton->isEnabled());
        QVERIFY(page.tags.coverBox->isEnabled() && page.tags.coverBox->isChecked());
        page.tags.coverBox->click();
        page.Apply();
        page.CopyBack(out);
        QCOMPARE(out.mp3.tagType, 3);
        QCOMPARE(out.mp3.copyCover, 0);
        ClickRadio(page.tags.group, 0);
        QCOMPARE(out.mp3.id3Version, 2);
        QCOMPARE(page.versionGroup->button(2)->text(), QString("I&D3v1 && ID3v2"));
        ClickRadio(page.versionGroup, 3);  // ID3v2.4
        page.Apply();
        page.CopyBack(out);
        QCOMPARE(out.mp3.id3Version, 3);
    }

    void oggRateCheckHoldsTheBitRateWithinTheLimits() {
        TestHooks t;
        ConvertSettings s;
        s.ogg.automatic = 0;
        s.ogg.bitRate = 128;
        s.ogg.rate = 44100;
        s.ogg.channels = 2;
        OggPage page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(Selected(page.presetList), kOggCd);
        ClickRadio(page.channelGroup, 1);  // Mono: 128 is within 32..224
        QCOMPARE(Selected(page.valueList), QString("128 kbps"));
        QCOMPARE(Selected(page.presetList), QString("Custom"));
        QVERIFY(Choose(page.valueList, "320 kbps"));
        QCOMPARE(Selected(page.valueList), QString("224 kbps"));
        ClickRadio(page.channelGroup, 0);  // Stereo: 224 is within 48..480
        QCOMPARE(Selected(page.valueList), QString("224 kbps"));
        QCOMPARE(Selected(page.presetList), QString("Custom"));
        QVERIFY(Choose(page.rateList, "8000 Hz"));
        QCOMPARE(Selected(page.valueList), QString("80 kbps"));
        QVERIFY(Choose(page.valueList, "8 kbps"));
        QCOMPARE(Selected(page.valueList), QString("16 kbps"));
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.ogg.bitRate, 16);
        QCOMPARE(out.ogg.rate, 8000);
        QCOMPARE(out.ogg.channels, 2);
    }

    void oggKeepsAnyBitRateWhenChannelsFollowTheSource() {
        TestHooks t;
        ConvertSettings s;
        s.ogg.automatic = 0;
        s.ogg.bitRate = 128;
        s.ogg.rate = 44100;
        s.ogg.channels = 0;
        OggPage page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(page.channelGroup->checkedId(), 2);
        QVERIFY(Choose(page.rateList, "8000 Hz"));
        QVERIFY(Choose(page.valueList, "480 kbps"));
        QCOMPARE(Selected(page.valueList), QString("480 kbps"));
        QCOMPARE(Selected(page.rateList), QString("8000 Hz"));
        int low = 0, high = 0;
        QVERIFY(OggPage::BitRateLimits(22050, true, low, high));
        QCOMPARE(low, 16);
        QCOMPARE(high, 80);
        QVERIFY(!OggPage::BitRateLimits(96000, false, low, high));
    }

    void wavDetailChangeTurnsThePresetToCustom() {
        TestHooks t;
        WavPage page(ConvertSettings{}, t.hooks);
        page.EnsureCreated();
        QCOMPARE(page.valueList->count(), 5);  // 8, 16, 24, 32 bits, same as the source
        QCOMPARE(page.rateList->count(), 13);
        QVERIFY(Choose(page.presetList, kWavLow));
        QCOMPARE(Selected(page.valueList), QString("8 bits"));
        QCOMPARE(Selected(page.rateList), QString("11025 Hz"));
        QCOMPARE(page.channelGroup->checkedId(), 1);
        QVERIFY(Choose(page.valueList, "8 bits"));  // unchanged: nothing happens
        QCOMPARE(Selected(page.presetList), kWavLow);
        QVERIFY(Choose(page.valueList, "16 bits"));
        QCOMPARE(Selected(page.presetList), QString("Custom"));
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.wav.automatic, 0);
        QCOMPARE(out.wav.bits, 16);
        QCOMPARE(out.wav.rate, 11025);
        QCOMPARE(out.wav.channels, 1);
    }

    // WAV holds tags like the other formats: the page's tag group reaches the settings.
    void wavTagsReachTheSettings() {
        TestHooks t;
        ConvertSettings s;
        s.wav.tagType = 1;
        WavPage page(s, t.hooks);
        page.EnsureCreated();
        QCOMPARE(page.tags.group->checkedId(), 1);
        ClickRadio(page.tags.group, 2);  // none
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.wav.tagType, 2);
    }

    void amplificationIsCheckedOnlyWhenTheBoxIsOn() {
        TestHooks t;
        ConvertSettings s;
        s.wav.amplify = 0;
        s.wav.gain = 100;
        WavPage page(s, t.hooks);
        page.EnsureCreated();
        QVERIFY(!page.amplify.edit->isEnabled());
        QVERIFY(!page.amplify.spin->isEnabled());
        QCOMPARE(page.amplify.spin->Lower(), 10);
        QCOMPARE(page.amplify.spin->Upper(), 3000);
        QCOMPARE(page.amplify.spin->Step(), 10);
        page.amplify.edit->setText("5");
        PageRefusal refusal;
        QVERIFY(page.KillActive(refusal));
        page.Apply();
        ConvertSettings out;
        page.CopyBack(out);
        QCOMPARE(out.wav.gain, 5);

        page.amplify.box->click();
        QVERIFY(page.amplify.edit->isEnabled());
        QVERIFY(!page.KillActive(refusal));
        QCOMPARE(refusal.message, QString("Invalid amplification coefficient. It's betwen 10 and 3000."));
        QCOMPARE(refusal.focus, static_cast<QWidget*>(page.amplify.edit));
        page.amplify.edit->setText("3001");
        QVERIFY(!page.KillActive(refusal));
        page.amplify.edit->clear();
        QVERIFY(!page.KillActive(refusal));
        QCOMPARE(refusal.message, QString("Please enter an integer."));
        page.amplify.edit->setText("3000");
        QVERIFY(page.KillActive(refusal));
        page.Apply();
        page.CopyBack(out);
        QCOMPARE(out.wav.amplify, 1);
        QCOMPARE(out.wav.gain, 3000);
    }
};

PELLORAN_OPTIONS_TEST_MAIN(FormatPagesTest)
#include "format_pages_test.moc"

using namespace pelloran;
