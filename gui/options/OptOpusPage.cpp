#include "gui/options/OptOpusPage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

using pelloran::ConvertSettings;

namespace {

// Stored OpusChannels per channel button: stereo, mono, same as the source.
const std::vector<int> kChannelCounts = {2, 1, 0};
constexpr int kBitRates[] = {6, 8, 12, 16, 24, 32, 48, 64, 80, 96, 112, 128, 160, 192, 256, 320, 384, 448, 510};

int ChannelButton(int32_t stored) {
    for (size_t i = 0; i < kChannelCounts.size(); ++i)
        if (kChannelCounts[i] == stored) return static_cast<int>(i);
    return 2;
}

}  // namespace

COptOpusPage::COptOpusPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : COptPage(hooks, parent),
      amplify(amplifyFlag_, coefficient_),
      tags(tagType_, tagSettings_, hooks, TagCaptions{"Add &tags", "T&ransfer tags from source file", "&None",
                                                      "&Edit tags"},
           true),
      auto_(s.AutoDestOpusEncodingParam != 0 ? 1 : 0),
      bitRate_(s.OpusBitRate),
      mode_(s.OpusMode),
      complexity_(s.OpusComplexity),
      channel_(ChannelButton(s.OpusChannels)),
      amplifyFlag_(s.AmplifyOpus),
      coefficient_(s.AmplifyOpusCoeff),
      tagType_(s.OpusID3TagType),
      tagSettings_(s.OpusTag) {
    tags.copyCover = s.OpusCopyCover;
}

void COptOpusPage::Initialise() {
    auto* layout = new QVBoxLayout(this);
    auto* details = new QGroupBox(this);
    auto* grid = new QGridLayout(details);
    bitRateList = new QComboBox(details);
    auto* bitRateLabel = new QLabel(QStringLiteral("&Bit Rate:"), details);
    bitRateLabel->setBuddy(bitRateList);
    complexityList = new QComboBox(details);
    auto* complexityLabel = new QLabel(QStringLiteral("Com&plexity:"), details);
    complexityLabel->setBuddy(complexityList);
    grid->addWidget(bitRateLabel, 0, 0);
    grid->addWidget(bitRateList, 0, 1);
    grid->addWidget(complexityLabel, 1, 0);
    grid->addWidget(complexityList, 1, 1);
    auto* vbr = new QRadioButton(QStringLiteral("&Variable bit rate (VBR)"), details);
    auto* cvbr = new QRadioButton(QStringLiteral("C&onstrained VBR"), details);
    auto* cbr = new QRadioButton(QStringLiteral("&Constant bit rate (CBR)"), details);
    modeGroup = MakeRadioGroup(details, {vbr, cvbr, cbr});
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(vbr);
    modeRow->addWidget(cvbr);
    modeRow->addWidget(cbr);
    modeRow->addStretch();
    grid->addLayout(modeRow, 2, 0, 1, 2);
    auto* stereo = new QRadioButton(QStringLiteral("&Stereo"), details);
    auto* mono = new QRadioButton(QStringLiteral("&Mono"), details);
    auto* same = new QRadioButton(QStringLiteral("Same as ori&ginal file"), details);
    channelGroup = MakeRadioGroup(details, {stereo, mono, same});
    auto* channelRow = new QHBoxLayout;
    channelRow->addWidget(stereo);
    channelRow->addWidget(mono);
    channelRow->addWidget(same);
    channelRow->addStretch();
    grid->addLayout(channelRow, 3, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Any sample rate is taken; Opus files play at 48 kHz."), details), 4, 0,
                    1, 2);
    layout->addWidget(details);
    layout->addWidget(amplify.Build(this));
    auto* tagBox = new QGroupBox(this);
    auto* tagLayout = new QHBoxLayout(tagBox);
    tagLayout->addWidget(tags.Build(tagBox));
    layout->addWidget(tagBox);
    layout->addStretch();

    AddItem(bitRateList, QStringLiteral("Auto (128 kbps stereo, 64 kbps mono)"), 0);
    for (int b : kBitRates) AddItem(bitRateList, QStringLiteral("%1 kbps").arg(b), b);
    for (int c = 0; c <= 10; ++c)
        AddItem(complexityList, c == 10 ? QStringLiteral("10 (best, default)") : QString::number(c), c);

    ShowMembers();
    amplify.UpdateEnabled();
    tags.UpdateEnabled();
}

bool COptOpusPage::ReadControls(PageRefusal* refusal) {
    ReadRadio(modeGroup, mode_);
    ReadRadio(channelGroup, channel_);
    tags.Read();
    return amplify.Read(refusal);
}

void COptOpusPage::ShowMembers() {
    // A stored rate not in the list shows as the nearest one above it.
    if (auto_ != 0 || !SelectValue(bitRateList, bitRate_)) {
        int shown = 0;
        if (auto_ == 0) {
            for (int b : kBitRates) {
                if (b >= bitRate_) {
                    shown = b;
                    break;
                }
            }
        }
        SelectValue(bitRateList, shown);
    }
    if (!SelectValue(complexityList, complexity_)) SelectValue(complexityList, 10);
    ShowRadio(modeGroup, mode_);
    ShowRadio(channelGroup, channel_);
    amplify.ShowMembers();
    tags.ShowMembers();
}

bool COptOpusPage::Validate(PageRefusal& refusal) { return amplify.Check(refusal); }

void COptOpusPage::Apply() {
    ReadControls(nullptr);
    if (auto v = SelectedValue(bitRateList)) {
        auto_ = *v == 0 ? 1 : 0;
        if (*v != 0) bitRate_ = *v;
    }
    if (auto v = SelectedValue(complexityList)) complexity_ = *v;
}

void COptOpusPage::CopyBack(ConvertSettings& s) const {
    s.AutoDestOpusEncodingParam = auto_;
    s.OpusBitRate = bitRate_;
    s.OpusMode = mode_;
    s.OpusComplexity = complexity_;
    s.OpusChannels = kChannelCounts[static_cast<size_t>(channel_ >= 0 && channel_ < 3 ? channel_ : 2)];
    s.AmplifyOpus = amplifyFlag_;
    s.AmplifyOpusCoeff = coefficient_;
    s.OpusID3TagType = tagType_;
    s.OpusTag = tagSettings_;
    s.OpusCopyCover = tags.copyCover;
}
