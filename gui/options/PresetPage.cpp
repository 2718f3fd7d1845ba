#include "gui/options/PresetPage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace pelloran {

namespace {
constexpr int kSameAsSource = 0;
}

PresetPage::PresetPage(PresetPageLayout layout, int32_t autoFlag, int32_t value, int32_t sampleRate,
                         int32_t channel, int32_t amplifyFlag, int32_t coefficient, OptionsHooks& hooks,
                         QWidget* parent)
    : OptionsPage(hooks, parent),
      amplify(amplifyFlag_, coefficient_),
      layout_(std::move(layout)),
      auto_(autoFlag != 0 ? 1 : 0),
      value_(value),
      sampleRate_(sampleRate),
      channel_(channel),
      amplifyFlag_(amplifyFlag),
      coefficient_(coefficient) {}

void PresetPage::Initialise() {
    auto* layout = new QVBoxLayout(this);

    auto* presetRow = new QHBoxLayout;
    presetList = new QComboBox(this);
    auto* presetLabel = new QLabel(QStringLiteral("&Encoding Options:"), this);
    presetLabel->setBuddy(presetList);
    presetRow->addWidget(presetLabel);
    presetRow->addWidget(presetList, 1);
    layout->addLayout(presetRow);

    auto* details = new QGroupBox(this);
    auto* grid = new QGridLayout(details);
    grid->setColumnStretch(1, 1);  // the lists take the room: the labels' column is as wide as its words
    rateList = new QComboBox(details);
    auto* rateLabel = new QLabel(QStringLiteral("Sample &Frequency:"), details);
    rateLabel->setBuddy(rateList);
    valueList = new QComboBox(details);
    auto* valueLabel = new QLabel(QString::fromUtf8(layout_.valueCaption), details);
    valueLabel->setBuddy(valueList);
    grid->addWidget(rateLabel, 0, 0);
    grid->addWidget(rateList, 0, 1);
    grid->addWidget(valueLabel, 1, 0);
    grid->addWidget(valueList, 1, 1);
    auto* channelRow = new QHBoxLayout;
    channelGroup = new QButtonGroup(details);
    int id = 0;
    for (const char* caption : layout_.channels) {
        auto* button = new QRadioButton(QString::fromUtf8(caption), details);
        channelGroup->addButton(button, id++);
        channelRow->addWidget(button);
    }
    channelRow->addStretch();
    grid->addLayout(channelRow, 2, 0, 1, 2);
    layout->addWidget(details);
    layout->addWidget(amplify.Build(this));

    // Presets: "Auto", the fixed ones, "Custom". A fixed preset is selected when all three values match.
    presetList->addItem(QStringLiteral("Auto"));
    for (const PresetRow& row : layout_.presets) presetList->addItem(QString::fromUtf8(row.text));
    presetList->addItem(QStringLiteral("Custom"));
    customIndex_ = presetList->count() - 1;
    int selected = -1;
    if (auto_ != 0) {
        selected = 0;
    } else {
        for (size_t i = 0; i < layout_.presets.size(); ++i) {
            const PresetRow& row = layout_.presets[i];
            if (row.sampleRate == sampleRate_ && row.value == value_ && row.channel == channel_) {
                selected = static_cast<int>(i) + 1;
                break;
            }
        }
    }
    presetList->setCurrentIndex(selected >= 0 ? selected : customIndex_);

    // Detail lists end with "Same as original file"; an unknown value selects the first item.
    const QString sameAsSource = QStringLiteral("Same as original file");
    for (int v : layout_.values) AddItem(valueList, QString::fromUtf8(layout_.valueFormat).arg(v), v);
    AddItem(valueList, sameAsSource, kSameAsSource);
    if (!SelectValue(valueList, value_)) valueList->setCurrentIndex(0);
    for (int r : layout_.sampleRates) AddItem(rateList, QStringLiteral("%1 Hz").arg(r), r);
    AddItem(rateList, sameAsSource, kSameAsSource);
    if (!SelectValue(rateList, sampleRate_)) rateList->setCurrentIndex(0);

    BuildExtras(layout);
    layout->addStretch();

    ShowMembers();
    SetDetailsEnabled(auto_ == 0);
    amplify.UpdateEnabled();

    connect(presetList, &QComboBox::activated, this, [this](int) { PresetChosen(); });
    connect(valueList, &QComboBox::activated, this, [this](int) { OnValueChanged(); });
    connect(rateList, &QComboBox::activated, this, [this](int) { OnRateChanged(); });
    connect(channelGroup, &QButtonGroup::idClicked, this, [this](int) { OnChannelClicked(); });
}

void PresetPage::SetDetailsEnabled(bool enabled) {
    valueList->setEnabled(enabled);
    rateList->setEnabled(enabled);
    for (QAbstractButton* button : channelGroup->buttons()) button->setEnabled(enabled);
}

void PresetPage::SelectCustom() {
    if (presetList->currentIndex() != customIndex_) presetList->setCurrentIndex(customIndex_);
}

void PresetPage::PresetChosen() {
    const int selected = presetList->currentIndex();
    if (selected == 0) {
        SetDetailsEnabled(false);
        return;
    }
    if (!valueList->isEnabled()) SetDetailsEnabled(true);
    ReadControls(nullptr);
    if (selected > 0 && selected < customIndex_) {
        const PresetRow& row = layout_.presets[static_cast<size_t>(selected - 1)];
        SelectValue(valueList, row.value);
        SelectValue(rateList, row.sampleRate);
        value_ = row.value;
        sampleRate_ = row.sampleRate;
        channel_ = row.channel;
    }
    ShowMembers();
}

// Default rule (WAV): a changed detail makes the preset "Custom".
void PresetPage::OnValueChanged() {
    const auto v = SelectedValue(valueList);
    if (!v || *v == value_) return;
    SelectCustom();
    value_ = *v;
}

void PresetPage::OnRateChanged() {
    const auto r = SelectedValue(rateList);
    if (!r || *r == sampleRate_) return;
    SelectCustom();
    sampleRate_ = *r;
}

void PresetPage::OnChannelClicked() {
    const int32_t before = channel_;
    ReadControls(nullptr);
    if (channel_ != before) SelectCustom();
}

bool PresetPage::ReadControls(PageRefusal* refusal) {
    ReadRadio(channelGroup, channel_);
    return amplify.Read(refusal);
}

void PresetPage::ShowMembers() {
    ShowRadio(channelGroup, channel_);
    amplify.ShowMembers();
}

bool PresetPage::Validate(PageRefusal& refusal) { return amplify.Check(refusal); }

void PresetPage::Apply() {
    ReadControls(nullptr);
    auto_ = presetList->currentIndex() == 0 ? 1 : 0;
    if (auto v = SelectedValue(valueList)) value_ = *v;
    if (auto r = SelectedValue(rateList)) sampleRate_ = *r;
}

}  // namespace pelloran
