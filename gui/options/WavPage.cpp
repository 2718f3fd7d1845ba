#include "gui/options/WavPage.h"

#include <QGroupBox>
#include <QVBoxLayout>

namespace pelloran {

namespace {

PresetPageLayout WavLayout() {
    return PresetPageLayout{
        {
            {"11025 Hz, 8 bits, Mono (low quality, smaller file size)", 11025, 8, 1},
            {"22050 Hz, 16 bits, Stereo (OK quality, small size)", 22050, 16, 0},
            {"32000 Hz, 16 bits, Stereo (medium quality, normal size)", 32000, 16, 0},
            {"44100Hz, 16 bits, Stereo (high quality, large size)", 44100, 16, 0},
        },
        {6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000},
        {8, 16, 24, 32},
        "%1 bits",
        "&Bits per Sample:",
        {"&Stereo", "&Mono", "Same as &original file"},
    };
}

}  // namespace

WavPage::WavPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : PresetPage(WavLayout(), s.wav.automatic, s.wav.bits, s.wav.rate,
                  ChannelIndex(kStereoMonoSame, s.wav.channels), s.wav.amplify, s.wav.gain, hooks, parent),
      tags(tagType_, tagSettings_, hooks,
           TagCaptions{"Add &tags", "T&ransfer tags from source file", "&None", "&Edit tags"}, true),
      tagType_(s.wav.tagType),
      tagSettings_(s.wav.tags) {
    tags.copyCover = s.wav.copyCover;
}

void WavPage::BuildExtras(QVBoxLayout* layout) {
    layout->addWidget(tags.BuildBox(this));
    tags.ShowMembers();
    tags.UpdateEnabled();
}

bool WavPage::ReadControls(PageRefusal* refusal) {
    tags.Read();
    return PresetPage::ReadControls(refusal);
}

void WavPage::ShowMembers() {
    PresetPage::ShowMembers();
    if (tags.group) tags.ShowMembers();
}

void WavPage::CopyBack(ConvertSettings& s) const {
    s.wav.automatic = auto_;
    if (auto_ == 0) {
        s.wav.bits = value_;
        s.wav.rate = sampleRate_;
        s.wav.channels = StoredChoice(kStereoMonoSame, channel_);
    }
    s.wav.amplify = amplifyFlag_;
    s.wav.gain = coefficient_;
    s.wav.tagType = tagType_;
    s.wav.tags = tagSettings_;
    s.wav.copyCover = tags.copyCover;
}

}  // namespace pelloran
