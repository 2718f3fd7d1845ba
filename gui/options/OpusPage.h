#pragma once
// "Opus Options": the bit rate (Auto by the channels), the bit-rate mode, the encoder's complexity, channels,
// amplification and tags.

#include "gui/options/OptionsPage.h"

namespace pelloran {

class OpusPage : public OptionsPage {
public:
    OpusPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("Opus Options"); }
    void Apply() override;
    void CopyBack(ConvertSettings& settings) const override;

    QComboBox* bitRateList = nullptr;  // "Auto" carries 0
    QButtonGroup* modeGroup = nullptr;  // VBR, constrained VBR, CBR
    QComboBox* complexityList = nullptr;
    QButtonGroup* channelGroup = nullptr;
    AmplifyGroup amplify;
    TagGroup tags;

protected:
    void Initialise() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;
    bool Validate(PageRefusal& refusal) override;

private:
    int32_t auto_;
    int32_t bitRate_;
    int32_t mode_;
    int32_t complexity_;
    int32_t channel_;
    int32_t amplifyFlag_;
    int32_t coefficient_;
    int32_t tagType_;
    TagSettings tagSettings_;
};

}  // namespace pelloran
