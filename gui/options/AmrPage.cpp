#include "gui/options/AmrPage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace pelloran {

namespace {
constexpr int kNarrowBand = 0;
constexpr int kWideBand = 1;
// A list without a matching mode selects its fifth item (mode 4).
constexpr int kFallbackItem = 4;

const char* const kNbModes[] = {"4.75 kbps", "5.15kbps",  "5.9 kbps",  "6.7 kbps",
                                "7.4 kbps",  "7.95 kbps", "10.2 kbps", "12.2 kbps"};
const char* const kWbModes[] = {"6.60", "8.85", "12.65", "14.25", "15.85", "18.25", "19.85", "23.05", "23.85"};

void FillWideBand(QComboBox* list, int32_t mode) {
    int value = 0;
    for (const char* name : kWbModes) AddItem(list, QString::fromUtf8(name) + QStringLiteral(" kbps"), value++);
    if (!SelectValue(list, mode)) list->setCurrentIndex(kFallbackItem);
}

QLabel* BitRateLabel(QWidget* parent, QWidget* buddy) {
    auto* label = new QLabel(QStringLiteral("&Bit Rate:"), parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

AmrPage::AmrPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : OptionsPage(hooks, parent),
      amplify(amplifyFlag_, coefficient_),
      amrType_(s.amr.band != 0 ? kWideBand : kNarrowBand),
      amrMode_(s.amr.nbMode),
      amrWbMode_(s.amr.wbMode),
      amrDtx_(s.amr.dtx),
      awbMode_(s.amr.awbMode),
      awbDtx_(s.amr.awbDtx),
      amplifyFlag_(s.amr.amplify),
      coefficient_(s.amr.gain) {}

void AmrPage::Initialise() {
    auto* layout = new QVBoxLayout(this);

    auto* amrBox = new QGroupBox(QStringLiteral("AMR Encoding Parameters"), this);
    auto* grid = new QGridLayout(amrBox);
    grid->setColumnStretch(2, 1);  // the lists take the room, not the columns of words
    auto* nb = new QRadioButton(QStringLiteral("NB (Narrow Band, 8000 Hz)"), amrBox);
    auto* wb = new QRadioButton(QStringLiteral("WB (Wide Band, 16000 Hz)"), amrBox);
    bandGroup = MakeRadioGroup(amrBox, {nb, wb});
    nbList = new QComboBox(amrBox);
    wbList = new QComboBox(amrBox);
    amrDtxBox = new QCheckBox(QStringLiteral("&Enable DTX (Discontinuous Transmission)"), amrBox);
    grid->addWidget(nb, 0, 0);
    grid->addWidget(BitRateLabel(amrBox, nbList), 0, 1);
    grid->addWidget(nbList, 0, 2);
    grid->addWidget(wb, 1, 0);
    grid->addWidget(BitRateLabel(amrBox, wbList), 1, 1);
    grid->addWidget(wbList, 1, 2);
    grid->addWidget(amrDtxBox, 2, 0, 1, 3);
    layout->addWidget(amrBox);

    auto* awbBox = new QGroupBox(QStringLiteral("AWB Encoding Parameters"), this);
    auto* awbGrid = new QGridLayout(awbBox);
    awbGrid->setColumnStretch(1, 1);
    awbList = new QComboBox(awbBox);
    awbDtxBox = new QCheckBox(QStringLiteral("&Enable DTX (Discontinuous Transmission)"), awbBox);
    awbGrid->addWidget(new QLabel(QStringLiteral("Sample Frequency: 16000 Hz"), awbBox), 0, 0, 1, 2);
    awbGrid->addWidget(BitRateLabel(awbBox, awbList), 1, 0);
    awbGrid->addWidget(awbList, 1, 1);
    awbGrid->addWidget(awbDtxBox, 2, 0, 1, 2);
    layout->addWidget(awbBox);

    layout->addWidget(amplify.Build(this));
    layout->addStretch();

    int value = 0;
    for (const char* name : kNbModes) AddItem(nbList, QString::fromUtf8(name), value++);
    if (!SelectValue(nbList, amrMode_)) nbList->setCurrentIndex(kFallbackItem);
    FillWideBand(wbList, amrWbMode_);
    FillWideBand(awbList, awbMode_);

    ShowMembers();
    UpdateBandEnabled();
    amplify.UpdateEnabled();

    connect(bandGroup, &QButtonGroup::idClicked, this, [this](int) {
        ReadControls(nullptr);
        UpdateBandEnabled();
    });
}

// The list of the band not selected is disabled; the AWB list always stays enabled.
void AmrPage::UpdateBandEnabled() {
    const bool wide = amrType_ == kWideBand;
    nbList->setEnabled(!wide);
    wbList->setEnabled(wide);
}

bool AmrPage::ReadControls(PageRefusal* refusal) {
    ReadRadio(bandGroup, amrType_);
    ReadCheck(amrDtxBox, amrDtx_);
    ReadCheck(awbDtxBox, awbDtx_);
    return amplify.Read(refusal);
}

void AmrPage::ShowMembers() {
    ShowRadio(bandGroup, amrType_);
    ShowCheck(amrDtxBox, amrDtx_);
    ShowCheck(awbDtxBox, awbDtx_);
    amplify.ShowMembers();
}

bool AmrPage::Validate(PageRefusal& refusal) { return amplify.Check(refusal); }

void AmrPage::Apply() {
    ReadControls(nullptr);
    if (auto m = SelectedValue(nbList)) amrMode_ = *m;
    if (auto m = SelectedValue(wbList)) amrWbMode_ = *m;
    if (auto m = SelectedValue(awbList)) awbMode_ = *m;
}

void AmrPage::CopyBack(ConvertSettings& s) const {
    s.amr.band = amrType_;
    s.amr.nbMode = amrMode_;
    s.amr.wbMode = amrWbMode_;
    s.amr.dtx = amrDtx_;
    s.amr.awbMode = awbMode_;
    s.amr.awbDtx = awbDtx_;
    s.amr.amplify = amplifyFlag_;
    s.amr.gain = coefficient_;
}

}  // namespace pelloran
