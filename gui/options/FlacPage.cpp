#include "gui/options/FlacPage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace pelloran {

namespace {
constexpr int kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};

}  // namespace

FlacPage::FlacPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : OptionsPage(hooks, parent),
      amplify(amplifyFlag_, coefficient_),
      tags(tagType_, tagSettings_, hooks, TagCaptions{"Add &tags", "T&ransfer tags from source file", "&None",
                                                      "&Edit tags"},
           true),
      level_(s.flac.compression),
      rate_(s.flac.rate),
      width_(s.flac.bits),
      channel_(ChannelIndex(kStereoMonoSame, s.flac.channels)),
      amplifyFlag_(s.flac.amplify),
      coefficient_(s.flac.gain),
      tagType_(s.flac.tagType),
      tagSettings_(s.flac.tags) {
    tags.copyCover = s.flac.copyCover;
}

void FlacPage::Initialise() {
    auto* layout = new QVBoxLayout(this);
    auto* details = new QGroupBox(this);
    auto* grid = new QGridLayout(details);
    grid->setColumnStretch(1, 1);  // the lists take the room: the labels' column is as wide as its words
    levelList = new QComboBox(details);
    auto* levelLabel = new QLabel(QStringLiteral("&Compression Level:"), details);
    levelLabel->setBuddy(levelList);
    rateList = new QComboBox(details);
    auto* rateLabel = new QLabel(QStringLiteral("Sample &Frequency:"), details);
    rateLabel->setBuddy(rateList);
    widthList = new QComboBox(details);
    auto* widthLabel = new QLabel(QStringLiteral("&Bits per Sample:"), details);
    widthLabel->setBuddy(widthList);
    grid->addWidget(levelLabel, 0, 0);
    grid->addWidget(levelList, 0, 1);
    grid->addWidget(rateLabel, 1, 0);
    grid->addWidget(rateList, 1, 1);
    grid->addWidget(widthLabel, 2, 0);
    grid->addWidget(widthList, 2, 1);
    channelGroup = AddRadioRow(grid, 3, details, {"&Stereo", "&Mono", "Same as &original file"});
    grid->addWidget(new QLabel(QStringLiteral("Lossless sources keep their width (up to 24 bits) and every channel "
                                              "when these stay \"Same as original file\"."),
                               details),
                    4, 0, 1, 2);
    layout->addWidget(details);
    layout->addWidget(amplify.Build(this));
    layout->addWidget(tags.BuildBox(this));
    layout->addStretch();

    for (int level = 0; level <= 8; ++level) {
        QString text = QString::number(level);
        if (level == 0) text += QStringLiteral(" (fastest)");
        if (level == 5) text += QStringLiteral(" (default)");
        if (level == 8) text += QStringLiteral(" (smallest)");
        AddItem(levelList, text, level);
    }
    for (int r : kRates) AddItem(rateList, QStringLiteral("%1 Hz").arg(r), r);
    AddItem(rateList, QStringLiteral("Same as original file"), 0);
    AddItem(widthList, QStringLiteral("16 bits"), 16);
    AddItem(widthList, QStringLiteral("24 bits"), 24);
    AddItem(widthList, QStringLiteral("Same as original file"), 0);

    ShowMembers();
    amplify.UpdateEnabled();
    tags.UpdateEnabled();
}

bool FlacPage::ReadControls(PageRefusal* refusal) {
    ReadRadio(channelGroup, channel_);
    tags.Read();
    return amplify.Read(refusal);
}

void FlacPage::ShowMembers() {
    if (!SelectValue(levelList, level_)) SelectValue(levelList, 5);
    if (!SelectValue(rateList, rate_)) SelectValue(rateList, 0);
    if (!SelectValue(widthList, width_)) SelectValue(widthList, 0);
    ShowRadio(channelGroup, channel_);
    amplify.ShowMembers();
    tags.ShowMembers();
}

bool FlacPage::Validate(PageRefusal& refusal) { return amplify.Check(refusal); }

void FlacPage::Apply() {
    ReadControls(nullptr);
    if (auto v = SelectedValue(levelList)) level_ = *v;
    if (auto v = SelectedValue(rateList)) rate_ = *v;
    if (auto v = SelectedValue(widthList)) width_ = *v;
}

void FlacPage::CopyBack(ConvertSettings& s) const {
    s.flac.compression = level_;
    s.flac.rate = rate_;
    s.flac.bits = width_;
    s.flac.channels = StoredChoice(kStereoMonoSame, channel_);
    s.flac.amplify = amplifyFlag_;
    s.flac.gain = coefficient_;
    s.flac.tagType = tagType_;
    s.flac.tags = tagSettings_;
    s.flac.copyCover = tags.copyCover;
}

}  // namespace pelloran
