#include "gui/options/OggPage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace pelloran {

namespace {
// Stored OGGChannels per channel button: stereo, mono, same as the source.
constexpr int kMonoButton = 1;

PresetPageLayout OggLayout() {
    return PresetPageLayout{
        {
            {"11025 Hz, 16 kbps, Mono (low quality, smaller size)", 11025, 16, 1},
            {"22050 Hz, 32 kbps, Stereo (OK quality, small size)", 22050, 32, 0},
            {"32000 Hz, 96 kbps, Stereo (medium quality, normal size)", 32000, 96, 0},
            {"44100Hz, 128 kbps, Stereo (close to CD-quality, large size)", 44100, 128, 0},
        },
        {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000},
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320, 400, 480},
        "%1 kbps",
        "&Bit Rate:",
        {"&Stereo", "&Mono", "Same as &original file"},
    };
}

struct RateLimits {
    int rate;
    int monoLow, monoHigh, stereoLow, stereoHigh;
};

// Bit rates the Vorbis encoder accepts per sample rate and channel count.
constexpr RateLimits kLimits[] = {
    {8000, 8, 40, 16, 80},     {11025, 16, 48, 16, 96},   {12000, 16, 48, 16, 96},
    {16000, 16, 80, 24, 160},  {22050, 16, 80, 32, 160},  {24000, 16, 80, 32, 160},
    {32000, 32, 160, 40, 320}, {44100, 32, 224, 48, 480}, {48000, 32, 224, 48, 480},
};

}  // namespace

OggPage::OggPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : PresetPage(OggLayout(), s.ogg.automatic, s.ogg.bitRate, s.ogg.rate,
                  ChannelIndex(kStereoMonoSame, s.ogg.channels), s.ogg.amplify, s.ogg.gain, hooks, parent),
      tags(tagType_, tagSettings_, hooks, TagCaptions{}, true),
      encodeMode_(s.ogg.mode),
      quality_(s.ogg.quality),
      tagType_(s.ogg.tagType),
      tagSettings_(s.ogg.tags) {
    tags.copyCover = s.ogg.copyCover;
}

bool OggPage::BitRateLimits(int sampleRate, bool mono, int& lowest, int& highest) {
    for (const RateLimits& row : kLimits) {
        if (row.rate != sampleRate) continue;
        lowest = mono ? row.monoLow : row.stereoLow;
        highest = mono ? row.monoHigh : row.stereoHigh;
        return true;
    }
    return false;
}

void OggPage::BuildExtras(QVBoxLayout* layout) {
    auto* modeBox = new QGroupBox(this);
    auto* modeLayout = new QHBoxLayout(modeBox);
    auto* nominal = new QRadioButton(QStringLiteral("Nominal bit rate (&kbps above)"), modeBox);
    auto* quality = new QRadioButton(QStringLiteral("&Quality:"), modeBox);
    modeGroup = MakeRadioGroup(modeBox, {nominal, quality});
    qualityList = new QComboBox(modeBox);
    for (int q = -1; q <= 10; ++q) {
        QString text = QString::number(q);
        if (q == -1) text += QStringLiteral(" (smallest)");
        if (q == 5) text += QStringLiteral(" (about 160 kbps)");
        if (q == 10) text += QStringLiteral(" (best)");
        AddItem(qualityList, text, q);
    }
    modeLayout->addWidget(nominal);
    modeLayout->addWidget(quality);
    modeLayout->addWidget(qualityList);
    modeLayout->addStretch();
    layout->addWidget(modeBox);
    ShowRadio(modeGroup, encodeMode_);
    if (!SelectValue(qualityList, quality_)) SelectValue(qualityList, 5);
    qualityList->setEnabled(encodeMode_ == 1);
    connect(modeGroup, &QButtonGroup::idClicked, this, [this](int) {
        ReadControls(nullptr);
        qualityList->setEnabled(encodeMode_ == 1);
    });

    layout->addWidget(tags.BuildBox(this));
    tags.ShowMembers();
    tags.UpdateEnabled();
}

void OggPage::RateCheck() {
    ReadControls(nullptr);
    const auto r = SelectedValue(rateList);
    const auto b = SelectedValue(valueList);
    if (!r || !b || *r == 0 || *b == 0 || SameAsSourceChannels()) return;
    int lowest = 0;
    int highest = 0;
    if (!BitRateLimits(*r, channel_ == kMonoButton, lowest, highest)) return;
    const int bitRate = std::clamp(*b, lowest, highest);
    if (bitRate != *b) SelectValue(valueList, bitRate);
    SelectCustom();
    value_ = bitRate;
    sampleRate_ = *r;
}

void OggPage::OnChannelClicked() {
    const int32_t before = channel_;
    RateCheck();
    if (channel_ != before) SelectCustom();
}

bool OggPage::ReadControls(PageRefusal* refusal) {
    tags.Read();
    if (modeGroup) {
        ReadRadio(modeGroup, encodeMode_);
        if (auto v = SelectedValue(qualityList)) quality_ = *v;
    }
    return PresetPage::ReadControls(refusal);
}

void OggPage::ShowMembers() {
    PresetPage::ShowMembers();
    if (tags.group) tags.ShowMembers();
}

void OggPage::CopyBack(ConvertSettings& s) const {
    s.ogg.automatic = auto_;
    if (auto_ == 0) {
        s.ogg.bitRate = value_;
        s.ogg.rate = sampleRate_;
        s.ogg.channels = StoredChoice(kStereoMonoSame, channel_);
    }
    s.ogg.amplify = amplifyFlag_;
    s.ogg.gain = coefficient_;
    s.ogg.tagType = tagType_;
    s.ogg.mode = encodeMode_;
    s.ogg.quality = quality_;
    s.ogg.tags = tagSettings_;
    s.ogg.copyCover = tags.copyCover;
}

}  // namespace pelloran
