#include "gui/options/Mp3Page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace pelloran {

namespace {
// Stored MP3ChannelMode per channel button: joint stereo, stereo, mono, same as the source.
const std::vector<int> kChannelModes = {1, 0, 3, 4};

const char* const kJointStereoAddress = "https://duckduckgo.com/?q=joint+stereo+vs+stereo+mp3";
const char* const kEncoderAddress = "https://lame.sourceforge.io/";

PresetPageLayout Mp3Layout() {
    return PresetPageLayout{
        {
            {"11025 Hz, 16 kbps, Mono (low quality, smaller file size)", 11025, 16, 2},
            {"22050 Hz, 32 kbps, Joint Stereo (OK quality, small size)", 22050, 32, 0},
            {"32000 Hz, 96 kbps, Joint Stereo (medium quality, normal size)", 32000, 96, 0},
            {"44100Hz, 128 kbps, Joint Stereo (close to CD-quality, large size)", 44100, 128, 0},
        },
        {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000},
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320},
        "%1 kbps",
        "&Bit Rate:",
        {"&Joint Stereo", "&Stereo", "&Mono", "Same as &original file"},
    };
}

QLabel* MakeLink(QWidget* parent, const QString& text, const char* address, OptionsHooks& hooks) {
    auto* link = new QLabel(parent);
    link->setText(QStringLiteral("<a href=\"%1\" style=\"text-decoration: underline;\">%2</a>")
                      .arg(QString::fromUtf8(address), text.toHtmlEscaped()));
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setToolTip(QString::fromUtf8(address));
    QObject::connect(link, &QLabel::linkActivated, parent, [&hooks](const QString& target) {
        if (hooks.open) hooks.open(target);
    });
    return link;
}

}  // namespace

Mp3Page::Mp3Page(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : PresetPage(Mp3Layout(), s.mp3.automatic, s.mp3.bitRate, s.mp3.rate,
                  ChannelIndex(kChannelModes, s.mp3.channels), s.mp3.amplify, s.mp3.gain, hooks, parent),
      tags(tagType_, tagSettings_, hooks,
           TagCaptions{"Add &ID3 tag", "T&ransfer ID3 tag from source file", "&None", "Edit ID3 &tag"}, true),
      tagType_(s.mp3.tagType),
      id3Version_(s.mp3.id3Version),
      encodeMode_(s.mp3.mode),
      vbrQuality_(s.mp3.quality),
      infoTag_(s.mp3.infoTag),
      tagSettings_(s.mp3.tags) {
    tags.copyCover = s.mp3.copyCover;
}

int Mp3Page::RateForBitRate(int b, int r) {
    if ((b == 8 || b == 16 || b == 24) && r > 24000) return 24000;
    if (b >= 80 && b <= 160 && r < 16000) return 16000;
    if (b >= 192 && b <= 320 && r < 32000) return 32000;
    return r;
}

int Mp3Page::BitRateForRate(int r, int b) {
    if ((r == 8000 || r == 11025 || r == 12000) && b > 64) return 64;
    if ((r == 16000 || r == 22050 || r == 24000) && b > 160) return 160;
    if ((r == 32000 || r == 44100 || r == 48000) && b < 32) return 32;
    return b;
}

void Mp3Page::BuildExtras(QVBoxLayout* layout) {
    auto* modeBox = new QGroupBox(this);
    auto* modeLayout = new QVBoxLayout(modeBox);
    auto* modeRow = new QHBoxLayout;
    modeList = new QComboBox(modeBox);
    AddItem(modeList, QStringLiteral("CBR (constant bit rate)"), 0);
    AddItem(modeList, QStringLiteral("VBR (variable, by quality)"), 1);
    AddItem(modeList, QStringLiteral("ABR (average of the bit rate)"), 2);
    auto* modeLabel = new QLabel(QStringLiteral("En&coding Mode:"), modeBox);
    modeLabel->setBuddy(modeList);
    vbrQualityList = new QComboBox(modeBox);
    for (int q = 0; q <= 9; ++q) {
        QString text = QStringLiteral("V%1").arg(q);
        if (q == 0) text += QStringLiteral(" (best)");
        if (q == 2) text += QStringLiteral(" (about 190 kbps)");
        AddItem(vbrQualityList, text, q);
    }
    auto* qualityLabel = new QLabel(QStringLiteral("&Quality:"), modeBox);
    qualityLabel->setBuddy(vbrQualityList);
    infoTagBox = new QCheckBox(QStringLiteral("Write the &LAME header (exact length, gapless playback)"), modeBox);
    modeRow->addWidget(modeLabel);
    modeRow->addWidget(modeList);
    modeRow->addWidget(qualityLabel);
    modeRow->addWidget(vbrQualityList);
    modeRow->addStretch();
    modeLayout->addLayout(modeRow);
    modeLayout->addWidget(infoTagBox);
    layout->addWidget(modeBox);
    if (!SelectValue(modeList, encodeMode_)) SelectValue(modeList, 0);
    if (!SelectValue(vbrQualityList, vbrQuality_)) SelectValue(vbrQualityList, 2);
    ShowCheck(infoTagBox, infoTag_);
    UpdateModeEnabled();
    connect(modeList, &QComboBox::activated, this, [this](int) {
        ReadControls(nullptr);
        UpdateModeEnabled();
    });

    QGroupBox* tagBox = tags.BuildBox(this);
    auto* versionBox = new QGroupBox(QStringLiteral("Write ID3 tag as:"), tagBox);
    auto* versionLayout = new QVBoxLayout(versionBox);
    auto* v1 = new QRadioButton(QStringLiteral("ID3v&1"), versionBox);
    auto* v2 = new QRadioButton(QStringLiteral("ID3v&2"), versionBox);
    auto* both = new QRadioButton(QStringLiteral("I&D3v1 && ID3v2"), versionBox);
    // ID3v2.4 keeps several values of a field apart; ID3v2 (2.3) joins them with "/".
    auto* v24 = new QRadioButton(QStringLiteral("ID3v2.&4 (several values kept apart)"), versionBox);
    versionGroup = MakeRadioGroup(versionBox, {v1, v2, both, v24});
    versionLayout->addWidget(v1);
    versionLayout->addWidget(v2);
    versionLayout->addWidget(both);
    versionLayout->addWidget(v24);
    tagBox->layout()->addWidget(versionBox);
    layout->addWidget(tagBox);

    auto* links = new QHBoxLayout;
    jointStereoLink = MakeLink(this, QStringLiteral("Joint Stereo vs. Stereo"), kJointStereoAddress, hooks_);
    encoderLink = MakeLink(this, QStringLiteral("The program uses LAME MP3 encoder."), kEncoderAddress, hooks_);
    links->addWidget(jointStereoLink);
    links->addStretch();
    links->addWidget(encoderLink);
    layout->addLayout(links);

    tags.afterTypeClicked = [this] { UpdateVersionEnabled(); };
    tags.ShowMembers();
    tags.UpdateEnabled();
    ShowRadio(versionGroup, id3Version_);
    UpdateVersionEnabled();
}

// The quality belongs to VBR; VBR and ABR always carry the LAME header.
void Mp3Page::UpdateModeEnabled() {
    vbrQualityList->setEnabled(encodeMode_ == 1);
    infoTagBox->setEnabled(encodeMode_ == 0);
}

void Mp3Page::UpdateVersionEnabled() {
    const bool on = tagType_ != 2;
    for (QAbstractButton* button : versionGroup->buttons()) button->setEnabled(on);
    // Without tags there is no version to choose: the group goes.
    versionGroup->buttons().front()->parentWidget()->setVisible(on);
}

void Mp3Page::OnValueChanged() {
    const auto b = SelectedValue(valueList);
    if (!b || *b == value_ || *b == 0) return;
    const auto r = SelectedValue(rateList);
    if (!r || *r == 0) return;
    const int rate = RateForBitRate(*b, *r);
    if (rate != *r) SelectValue(rateList, rate);
    SelectCustom();
    value_ = *b;
    sampleRate_ = rate;
}

void Mp3Page::OnRateChanged() {
    const auto r = SelectedValue(rateList);
    if (!r || *r == sampleRate_ || *r == 0) return;
    const auto b = SelectedValue(valueList);
    if (!b || *b == 0) return;
    const int bitRate = BitRateForRate(*r, *b);
    if (bitRate != *b) SelectValue(valueList, bitRate);
    SelectCustom();
    sampleRate_ = *r;
    value_ = bitRate;
}

bool Mp3Page::ReadControls(PageRefusal* refusal) {
    tags.Read();
    ReadRadio(versionGroup, id3Version_);
    if (modeList) {
        if (auto v = SelectedValue(modeList)) encodeMode_ = *v;
        if (auto v = SelectedValue(vbrQualityList)) vbrQuality_ = *v;
        ReadCheck(infoTagBox, infoTag_);
    }
    return PresetPage::ReadControls(refusal);
}

void Mp3Page::ShowMembers() {
    PresetPage::ShowMembers();
    if (versionGroup) {
        tags.ShowMembers();
        ShowRadio(versionGroup, id3Version_);
    }
}

void Mp3Page::CopyBack(ConvertSettings& s) const {
    s.mp3.automatic = auto_;
    if (auto_ == 0) {
        s.mp3.bitRate = value_;
        s.mp3.rate = sampleRate_;
        s.mp3.channels = kChannelModes[static_cast<size_t>(channel_)];
    }
    s.mp3.amplify = amplifyFlag_;
    s.mp3.gain = coefficient_;
    s.mp3.tagType = tagType_;
    s.mp3.id3Version = id3Version_;
    s.mp3.mode = encodeMode_;
    s.mp3.quality = vbrQuality_;
    s.mp3.infoTag = infoTag_;
    s.mp3.tags = tagSettings_;
    s.mp3.copyCover = tags.copyCover;
}

}  // namespace pelloran
