#pragma once
// "AAC Options" and "MP4/M4A/M4B Options": one design around the AAC encoder's settings behind an
// "Auto" box and a "Reset" button; the MP4 page also chooses ALAC (lossless) instead of AAC.

#include "gui/options/OptionsPage.h"

namespace pelloran {

// The record one of the two pages edits, and the fields only one of the pages has.
struct AacPageFields {
    AacFormatSettings ConvertSettings::*record;
    bool mpegVersion = false;  // AAC only
    bool tags = false;         // MP4 only: tag type, custom tags and cover
    bool codec = false;        // MP4 only: AAC or ALAC
};

class AacPageBase : public OptionsPage {
public:
    void Apply() override;
    void CopyBack(ConvertSettings& settings) const override;

    QButtonGroup* codecGroup = nullptr;  // AAC, ALAC (MP4 only)
    QCheckBox* autoBox = nullptr;
    QButtonGroup* modeGroup = nullptr;   // ABR, VBR
    QComboBox* bitRateList = nullptr;
    QLineEdit* qualityEdit = nullptr;
    StepSpinCtrl* qualitySpin = nullptr;
    QCheckBox* tnsBox = nullptr;
    QCheckBox* midsideBox = nullptr;
    QButtonGroup* mpegGroup = nullptr;   // AAC only
    QButtonGroup* blockGroup = nullptr;
    QPushButton* resetButton = nullptr;
    AmplifyGroup amplify;
    TagGroup tags;                        // built on the MP4 page only

protected:
    AacPageBase(const AacPageFields& fields, const ConvertSettings& settings, TagCaptions captions,
                 OptionsHooks& hooks, QWidget* parent);

    void Initialise() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;
    bool Validate(PageRefusal& refusal) override;

private:
    void UpdateEnabled();
    void Reset();
    const AacFormatSettings& Record(const ConvertSettings& settings) const { return settings.*fields_.record; }

    AacPageFields fields_;
    int32_t auto_;
    int32_t vbr_;
    int32_t quality_;
    int32_t bitRate_;
    int32_t mpegVersion_;
    int32_t tns_;
    int32_t midside_;
    int32_t blockType_;
    int32_t amplifyFlag_;
    int32_t coefficient_;
    int32_t tagType_;
    TagSettings tagSettings_;
    int32_t codec_;
    bool alacFormat_;  // the output format is ALAC: the codec is decided, shown and not asked
};

class AacPage : public AacPageBase {
public:
    AacPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);
    QString TabText() const override { return QStringLiteral("AAC Options"); }
};

class M4aPage : public AacPageBase {
public:
    M4aPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);
    QString TabText() const override { return QStringLiteral("MP4/M4A/M4B Options"); }
};

}  // namespace pelloran
