#include "gui/options/WavPage.h"

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
    : PresetPage(WavLayout(), s.AutoDestWAVEncodingParam, s.WAVBitsPerSample, s.WAVSampleRate,
                  ChannelIndex(kStereoMonoSame, s.WAVChannelNum), s.AmplifyWav, s.AmplifyWavCoeff, hooks, parent) {}

void WavPage::CopyBack(ConvertSettings& s) const {
    s.AutoDestWAVEncodingParam = auto_;
    if (auto_ == 0) {
        s.WAVBitsPerSample = value_;
        s.WAVSampleRate = sampleRate_;
        s.WAVChannelNum = StoredChoice(kStereoMonoSame, channel_);
    }
    s.AmplifyWav = amplifyFlag_;
    s.AmplifyWavCoeff = coefficient_;
}

}  // namespace pelloran
