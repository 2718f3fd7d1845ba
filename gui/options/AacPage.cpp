#include "gui/options/AacPage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/options/StepSpinCtrl.h"

namespace pelloran {

namespace {
constexpr int kAbr = 0;
constexpr int kVbr = 1;
constexpr int kQualityLow = 10;
constexpr int kQualityHigh = 500;
constexpr int kResetBitRate = 128;
constexpr int kBitRates[] = {16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

const AacPageFields kAacFields = {.record = &ConvertSettings::aac, .mpegVersion = true};
const AacPageFields kM4aFields = {.record = &ConvertSettings::m4a, .tags = true, .codec = true};

constexpr int kAlac = 1;

}  // namespace

AacPageBase::AacPageBase(const AacPageFields& f, const ConvertSettings& s, TagCaptions captions,
                           OptionsHooks& hooks, QWidget* parent)
    : OptionsPage(hooks, parent),
      amplify(amplifyFlag_, coefficient_),
      tags(tagType_, tagSettings_, hooks, captions, false),
      fields_(f),
      auto_(Record(s).automatic != 0 ? 1 : 0),
      vbr_(Record(s).mode != 0 ? kVbr : kAbr),
      quality_(Record(s).quality),
      bitRate_(Record(s).bitRate),
      mpegVersion_(f.mpegVersion ? Record(s).mpegVersion : 0),
      tns_(Record(s).tns),
      midside_(Record(s).midside),
      blockType_(Record(s).blockType),
      amplifyFlag_(Record(s).amplify),
      coefficient_(Record(s).gain),
      tagType_(f.tags ? Record(s).tagType : 2),
      tagSettings_(f.tags ? Record(s).tags : TagSettings{}),
      codec_(f.codec && Record(s).codec == kAlac ? kAlac : 0),
      alacFormat_(f.codec && s.OutputFormat == kOutputAlac) {
    if (f.tags) tags.copyCover = Record(s).copyCover;
}

void AacPageBase::Initialise() {
    auto* layout = new QVBoxLayout(this);
    if (fields_.codec) {
        auto* codecBox = new QGroupBox(QStringLiteral("Codec:"), this);
        auto* codecLayout = new QHBoxLayout(codecBox);
        auto* aac = new QRadioButton(QStringLiteral("AA&C"), codecBox);
        auto* alac = new QRadioButton(QStringLiteral("A&LAC (Apple Lossless: the source's rate, channels and "
                                                     "width, up to 24 bits)"),
                                      codecBox);
        codecGroup = MakeRadioGroup(codecBox, {aac, alac});
        if (alacFormat_) {
            codecBox->setTitle(QStringLiteral("Codec (the output format chosen is ALAC):"));
            aac->setEnabled(false);
            alac->setEnabled(false);
        }
        codecLayout->addWidget(aac);
        codecLayout->addWidget(alac);
        codecLayout->addStretch();
        layout->addWidget(codecBox);
    }
    autoBox = new QCheckBox(QStringLiteral("A&uto (let the program choose the best parameters)"), this);
    layout->addWidget(autoBox);

    auto* rateBox = new QGroupBox(this);
    auto* grid = new QGridLayout(rateBox);
    auto* abr = new QRadioButton(QStringLiteral("Average &Bit Rate (ABR)"), rateBox);
    auto* vbr = new QRadioButton(QStringLiteral("&Variable Bit Rate (VBR)"), rateBox);
    modeGroup = MakeRadioGroup(rateBox, {abr, vbr});
    bitRateList = new QComboBox(rateBox);
    auto* bitRateLabel = new QLabel(QStringLiteral("Bit &Rate:"), rateBox);
    bitRateLabel->setBuddy(bitRateList);
    qualityEdit = MakeNumberEdit(rateBox);
    qualityEdit->setMaximumWidth(60);
    auto* qualityLabel = new QLabel(QStringLiteral("&Quality:"), rateBox);
    qualityLabel->setBuddy(qualityEdit);
    qualitySpin = new StepSpinCtrl(rateBox);
    qualitySpin->SetBuddy(qualityEdit);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(qualityEdit);
    qualityRow->addWidget(qualitySpin);
    qualityRow->addWidget(new QLabel(QStringLiteral("(Default: 100. From 10 to 500)"), rateBox));
    qualityRow->addStretch();
    grid->addWidget(abr, 0, 0);
    grid->addWidget(bitRateLabel, 0, 1);
    grid->addWidget(bitRateList, 0, 2);
    grid->addWidget(vbr, 1, 0);
    grid->addWidget(qualityLabel, 1, 1);
    grid->addLayout(qualityRow, 1, 2);
    layout->addWidget(rateBox);

    auto* advanced = new QGroupBox(QStringLiteral("Advanced Options"), this);
    auto* advancedLayout = new QGridLayout(advanced);
    tnsBox = new QCheckBox(QStringLiteral("Use &Temporal Noise Shaping (TNS)"), advanced);
    midsideBox = new QCheckBox(QStringLiteral("Allow &Mid/Side"), advanced);
    advancedLayout->addWidget(tnsBox, 0, 0);
    advancedLayout->addWidget(midsideBox, 1, 0);
    if (fields_.mpegVersion) {
        auto* mpegBox = new QGroupBox(QStringLiteral("MPEG Version:"), advanced);
        auto* mpegLayout = new QVBoxLayout(mpegBox);
        auto* mpeg4 = new QRadioButton(QStringLiteral("MPEG&4"), mpegBox);
        auto* mpeg2 = new QRadioButton(QStringLiteral("MPEG&2"), mpegBox);
        mpegGroup = MakeRadioGroup(mpegBox, {mpeg4, mpeg2});
        mpegLayout->addWidget(mpeg4);
        mpegLayout->addWidget(mpeg2);
        advancedLayout->addWidget(mpegBox, 0, 1, 2, 1);
    }
    auto* blockBox = new QGroupBox(QStringLiteral("Block Type:"), advanced);
    auto* blockLayout = new QVBoxLayout(blockBox);
    auto* both = new QRadioButton(QStringLiteral("B&oth long and short"), blockBox);
    auto* noShort = new QRadioButton(QStringLiteral("No &short"), blockBox);
    auto* noLong = new QRadioButton(QStringLiteral("&No long"), blockBox);
    blockGroup = MakeRadioGroup(blockBox, {both, noShort, noLong});
    blockLayout->addWidget(both);
    blockLayout->addWidget(noShort);
    blockLayout->addWidget(noLong);
    advancedLayout->addWidget(blockBox, 0, 2, 2, 1);
    layout->addWidget(advanced);

    layout->addWidget(amplify.Build(this));
    if (fields_.tags) layout->addWidget(tags.BuildBox(this));
    resetButton = new QPushButton(QStringLiteral("Reset"), this);
    auto* resetRow = new QHBoxLayout;
    resetRow->addStretch();
    resetRow->addWidget(resetButton);
    layout->addLayout(resetRow);
    layout->addStretch();

    for (int b : kBitRates) AddItem(bitRateList, QStringLiteral("%1 kbps").arg(b), b);
    AddItem(bitRateList, QStringLiteral("Same as original file"), 0);
    if (!SelectValue(bitRateList, bitRate_)) bitRateList->setCurrentIndex(0);
    amplify.spin->SetRange(10, 3000);
    amplify.spin->SetStep(10);
    qualitySpin->SetRange(kQualityLow, kQualityHigh);
    qualitySpin->SetStep(10);

    ShowMembers();
    UpdateEnabled();
    amplify.UpdateEnabled();
    if (fields_.tags) tags.UpdateEnabled();

    connect(autoBox, &QCheckBox::clicked, this, [this] {
        ReadControls(nullptr);
        UpdateEnabled();
    });
    connect(modeGroup, &QButtonGroup::idClicked, this, [this](int) {
        ReadControls(nullptr);
        UpdateEnabled();
        if (vbr_ == kVbr)
            qualityEdit->setFocus();
        else
            bitRateList->setFocus();
    });
    connect(resetButton, &QPushButton::clicked, this, [this] { Reset(); });
    if (codecGroup) {
        connect(codecGroup, &QButtonGroup::idClicked, this, [this](int) {
            ReadControls(nullptr);
            UpdateEnabled();
        });
    }
}

// Everything depends on Auto being clear; the bit rate on ABR, the quality on VBR.
void AacPageBase::UpdateEnabled() {
    // ALAC has none of the AAC encoder's settings.
    const bool aac = codec_ != kAlac && !alacFormat_;
    autoBox->setEnabled(aac);
    resetButton->setEnabled(aac);
    const bool e = aac && !autoBox->isChecked();
    const int mode = modeGroup->checkedId();
    for (QAbstractButton* b : modeGroup->buttons()) b->setEnabled(e);
    tnsBox->setEnabled(e);
    midsideBox->setEnabled(e);
    if (mpegGroup)
        for (QAbstractButton* b : mpegGroup->buttons()) b->setEnabled(e);
    for (QAbstractButton* b : blockGroup->buttons()) b->setEnabled(e);
    bitRateList->setEnabled(e && mode == kAbr);
    qualityEdit->setEnabled(e && mode == kVbr);
    qualitySpin->setEnabled(e && mode == kVbr);
    // With ALAC the AAC encoder's groups mean nothing, nor with Auto its parameters: hidden, not greyed.
    autoBox->setVisible(aac);
    resetButton->setVisible(aac);
    bitRateList->parentWidget()->setVisible(e);
    tnsBox->parentWidget()->setVisible(e);
}

void AacPageBase::Reset() {
    ReadControls(nullptr);
    auto_ = 1;
    vbr_ = kVbr;
    quality_ = 100;
    mpegVersion_ = 0;
    tns_ = 0;
    midside_ = 1;
    blockType_ = 0;
    ShowMembers();
    SelectValue(bitRateList, kResetBitRate);
    ReadControls(nullptr);
    UpdateEnabled();
}

bool AacPageBase::ReadControls(PageRefusal* refusal) {
    if (codecGroup && !alacFormat_) ReadRadio(codecGroup, codec_);
    ReadCheck(autoBox, auto_);
    ReadRadio(modeGroup, vbr_);
    ReadCheck(tnsBox, tns_);
    ReadCheck(midsideBox, midside_);
    if (mpegGroup) ReadRadio(mpegGroup, mpegVersion_);
    ReadRadio(blockGroup, blockType_);
    if (fields_.tags) tags.Read();
    if (!ReadIntEdit(qualityEdit, quality_, refusal)) return false;
    return amplify.Read(refusal);
}

void AacPageBase::ShowMembers() {
    if (codecGroup) ShowRadio(codecGroup, alacFormat_ ? kAlac : codec_);
    ShowCheck(autoBox, auto_);
    ShowRadio(modeGroup, vbr_);
    ShowIntEdit(qualityEdit, quality_);
    ShowCheck(tnsBox, tns_);
    ShowCheck(midsideBox, midside_);
    if (mpegGroup) ShowRadio(mpegGroup, mpegVersion_);
    ShowRadio(blockGroup, blockType_);
    amplify.ShowMembers();
    if (fields_.tags) tags.ShowMembers();
}

bool AacPageBase::Validate(PageRefusal& refusal) {
    if (codec_ != kAlac && !alacFormat_ && auto_ == 0 && vbr_ == kVbr && (quality_ < kQualityLow || quality_ > kQualityHigh)) {
        refusal.message = QStringLiteral("Invalid quality value. It's betwen 10 and 500.");
        refusal.focus = qualityEdit;
        return false;
    }
    return amplify.Check(refusal);
}

void AacPageBase::Apply() {
    ReadControls(nullptr);
    if (auto b = SelectedValue(bitRateList)) bitRate_ = *b;
}

void AacPageBase::CopyBack(ConvertSettings& s) const {
    AacFormatSettings& r = s.*fields_.record;
    r.automatic = auto_;
    if (auto_ == 0) {
        r.mode = vbr_ == kVbr ? 1 : 0;
        r.quality = quality_;
        r.bitRate = bitRate_;
        if (fields_.mpegVersion) r.mpegVersion = mpegVersion_;
        r.tns = tns_;
        r.midside = midside_;
        r.blockType = blockType_;
    }
    r.amplify = amplifyFlag_;
    r.gain = coefficient_;
    if (fields_.tags) {
        r.tagType = tagType_;
        r.tags = tagSettings_;
        r.copyCover = tags.copyCover;
    }
    if (fields_.codec) r.codec = codec_;
}

AacPage::AacPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : AacPageBase(kAacFields, s, TagCaptions{}, hooks, parent) {}

M4aPage::M4aPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : AacPageBase(kM4aFields, s,
                   TagCaptions{"Add &tags", "Trans&fer tags from source file", "Non&e", "E&dit tags"},
                   hooks, parent) {}

}  // namespace pelloran
