#pragma once
// "AMR/AWB Options": the encoder mode per band, discontinuous transmission and amplification.

#include "gui/options/OptionsPage.h"

namespace pelloran {

class AmrPage : public OptionsPage {
public:
    AmrPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("AMR/AWB Options"); }
    void Apply() override;
    void CopyBack(ConvertSettings& settings) const override;

    QButtonGroup* bandGroup = nullptr;  // NB, WB
    QComboBox* nbList = nullptr;
    QComboBox* wbList = nullptr;
    QCheckBox* amrDtxBox = nullptr;
    QComboBox* awbList = nullptr;
    QCheckBox* awbDtxBox = nullptr;
    AmplifyGroup amplify;

protected:
    void Initialise() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;
    bool Validate(PageRefusal& refusal) override;

private:
    void UpdateBandEnabled();

    int32_t amrType_;
    int32_t amrMode_;
    int32_t amrWbMode_;
    int32_t amrDtx_;
    int32_t awbMode_;
    int32_t awbDtx_;
    int32_t amplifyFlag_;
    int32_t coefficient_;
};

}  // namespace pelloran
