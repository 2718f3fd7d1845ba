#pragma once
// "WMA Options": one list of the formats the WMA layer offers, tags and amplification.

#include <vector>

#include "gui/options/OptionsPage.h"

namespace pelloran {

class WmaPage : public OptionsPage {
public:
    WmaPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("WMA Options"); }
    void Apply() override;
    void CopyBack(ConvertSettings& settings) const override;

    QComboBox* formatList = nullptr;
    TagGroup tags;
    AmplifyGroup amplify;

protected:
    void Initialise() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;
    bool Validate(PageRefusal& refusal) override;

private:
    std::vector<WmaFormatChoice> formats_;  // as the WMA layer listed them; items refer to them by index
    int32_t auto_;
    int32_t sampleRate_;
    int32_t bitRate_;
    int32_t channels_;
    int32_t tagType_;
    TagSettings tagSettings_;
    int32_t amplifyFlag_;
    int32_t coefficient_;
};

}  // namespace pelloran
