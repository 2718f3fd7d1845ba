#include "gui/options/OpusPage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace pelloran {

namespace {
constexpr int kBitRates[] = {6, 8, 12, 16, 24, 32, 48, 64, 80, 96, 112, 128, 160, 192, 256, 320, 384, 448, 510};

}  // namespace

OpusPage::OpusPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : OptionsPage(hooks, parent),
      amplify(amplifyFlag_, coefficient_),
      tags(tagType_, tagSettings_, hooks, TagCaptions{"Add &tags", "T&ransfer tags from source file", "&None",
                                                      "&Edit tags"},
           true),
      auto_(s.opus.automatic != 0 ? 1 : 0),
      bitRate_(s.opus.bitRate),
      mode_(s.opus.mode),
      complexity_(s.opus.complexity),
      channel_(ChannelIndex(kStereoMonoSame, s.opus.channels)),
      amplifyFlag_(s.opus.amplify),
      coefficient_(s.opus.gain),
      tagType_(s.opus.tagType),
      tagSettings_(s.opus.tags) {
    tags.copyCover = s.opus.copyCover;
}

void OpusPage::Initialise() {
    auto* layout = new QVBoxLayout(this);
    auto* details = new QGroupBox(this);
    auto* grid = new QGridLayout(details);
    grid->setColumnStretch(1, 1);  // the lists take the room: the labels' column is as wide as its words
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
    modeGroup = AddRadioRow(grid, 2, details,
                            {"&Variable bit rate (VBR)", "C&onstrained VBR", "&Constant bit rate (CBR)"});
    channelGroup = AddRadioRow(grid, 3, details, {"&Stereo", "&Mono", "Same as ori&ginal file"});
    grid->addWidget(new QLabel(QStringLiteral("Any sample rate is taken; Opus files play at 48 kHz."), details), 4, 0,
                    1, 2);
    layout->addWidget(details);
    layout->addWidget(amplify.Build(this));
    layout->addWidget(tags.BuildBox(this));
    layout->addStretch();

    AddItem(bitRateList, QStringLiteral("Auto (128 kbps stereo, 64 kbps mono)"), 0);
    for (int b : kBitRates) AddItem(bitRateList, QStringLiteral("%1 kbps").arg(b), b);
    for (int c = 0; c <= 10; ++c)
        AddItem(complexityList, c == 10 ? QStringLiteral("10 (best, default)") : QString::number(c), c);

    ShowMembers();
    amplify.UpdateEnabled();
    tags.UpdateEnabled();
}

bool OpusPage::ReadControls(PageRefusal* refusal) {
    ReadRadio(modeGroup, mode_);
    ReadRadio(channelGroup, channel_);
    tags.Read();
    return amplify.Read(refusal);
}

void OpusPage::ShowMembers() {
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

bool OpusPage::Validate(PageRefusal& refusal) { return amplify.Check(refusal); }

void OpusPage::Apply() {
    ReadControls(nullptr);
    if (auto v = SelectedValue(bitRateList)) {
        auto_ = *v == 0 ? 1 : 0;
        if (*v != 0) bitRate_ = *v;
    }
    if (auto v = SelectedValue(complexityList)) complexity_ = *v;
}

void OpusPage::CopyBack(ConvertSettings& s) const {
    s.opus.automatic = auto_;
    s.opus.bitRate = bitRate_;
    s.opus.mode = mode_;
    s.opus.complexity = complexity_;
    s.opus.channels = StoredChoice(kStereoMonoSame, channel_);
    s.opus.amplify = amplifyFlag_;
    s.opus.gain = coefficient_;
    s.opus.tagType = tagType_;
    s.opus.tags = tagSettings_;
    s.opus.copyCover = tags.copyCover;
}

}  // namespace pelloran
