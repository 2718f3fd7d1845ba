#include "gui/options/WmaPage.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace pelloran {

namespace {
constexpr int kAutoItem = -1;   // item data of "Auto": no format
constexpr int kLowestBitRate = 1000;
}  // namespace

WmaPage::WmaPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : OptionsPage(hooks, parent),
      tags(tagType_, tagSettings_, hooks, TagCaptions{}, true),
      amplify(amplifyFlag_, coefficient_),
      auto_(s.wma.automatic != 0 ? 1 : 0),
      sampleRate_(s.wma.rate),
      bitRate_(s.wma.bitRate),
      channels_(s.wma.channels),
      tagType_(s.wma.tagType),
      tagSettings_(s.wma.tags),
      amplifyFlag_(s.wma.amplify),
      coefficient_(s.wma.gain) {
    tags.copyCover = s.wma.copyCover;
}

void WmaPage::Initialise() {
    auto* layout = new QVBoxLayout(this);
    formatList = new QComboBox(this);
    auto* label = new QLabel(QStringLiteral("&Encoding Options: (Sample Frequency, Bit Rate, Channels)"), this);
    label->setBuddy(formatList);
    layout->addWidget(label);
    layout->addWidget(formatList);
    auto* tagBox = new QGroupBox(this);
    auto* tagLayout = new QHBoxLayout(tagBox);
    tagLayout->addWidget(tags.Build(tagBox));
    layout->addWidget(tagBox);
    layout->addWidget(amplify.Build(this));
    layout->addStretch();

    AddItem(formatList, QStringLiteral("Auto"), kAutoItem);
    int selected = auto_ != 0 ? 0 : -1;
    // Loading the WMA layer may ask the user about it; without it only "Auto" is offered.
    if (hooks_.wmaFormats) formats_ = hooks_.wmaFormats(this);
    for (size_t i = 0; i < formats_.size(); ++i) {
        const WmaFormatChoice& f = formats_[i];
        if (f.bitRate < kLowestBitRate) continue;
        AddItem(formatList,
                QStringLiteral("%1 Hz, %2 kbps, %3")
                    .arg(f.sampleRate)
                    .arg(f.bitRate / 1000)
                    .arg(f.channels == 1 ? QStringLiteral("Mono") : QStringLiteral("Stereo")),
                static_cast<int>(i));
        // With several matches the last one stays selected.
        if (auto_ == 0 && f.sampleRate == sampleRate_ && f.bitRate / 1000 == bitRate_ / 1000 &&
            f.channels == channels_)
            selected = formatList->count() - 1;
    }
    formatList->setCurrentIndex(selected);

    ShowMembers();
    tags.UpdateEnabled();
    amplify.UpdateEnabled();
}

bool WmaPage::ReadControls(PageRefusal* refusal) {
    tags.Read();
    return amplify.Read(refusal);
}

void WmaPage::ShowMembers() {
    tags.ShowMembers();
    amplify.ShowMembers();
}

bool WmaPage::Validate(PageRefusal& refusal) { return amplify.Check(refusal); }

// "Auto", or no selection (the stored format is no longer offered), turns Auto on and keeps the values.
void WmaPage::Apply() {
    ReadControls(nullptr);
    const auto item = SelectedValue(formatList);
    if (!item || *item == kAutoItem || *item < 0 || static_cast<size_t>(*item) >= formats_.size()) {
        auto_ = 1;
        return;
    }
    const WmaFormatChoice& f = formats_[static_cast<size_t>(*item)];
    auto_ = 0;
    sampleRate_ = f.sampleRate;
    bitRate_ = f.bitRate;
    channels_ = f.channels;
}

void WmaPage::CopyBack(ConvertSettings& s) const {
    s.wma.automatic = auto_;
    if (auto_ == 0) {
        s.wma.rate = sampleRate_;
        s.wma.bitRate = bitRate_;
        s.wma.channels = channels_;
    }
    s.wma.amplify = amplifyFlag_;
    s.wma.gain = coefficient_;
    s.wma.tagType = tagType_;
    s.wma.tags = tagSettings_;
    s.wma.copyCover = tags.copyCover;
}

}  // namespace pelloran
