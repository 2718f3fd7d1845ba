#pragma once
// "FLAC Options": the compression level, the sample rate, channels and width (each "as the source" by
// default), amplification and tags.

#include "gui/options/OptionsPage.h"

namespace pelloran {

class FlacPage : public OptionsPage {
public:
    FlacPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("FLAC Options"); }
    void Apply() override;
    void CopyBack(ConvertSettings& settings) const override;

    QComboBox* levelList = nullptr;
    QComboBox* rateList = nullptr;
    QComboBox* widthList = nullptr;
    QButtonGroup* channelGroup = nullptr;
    AmplifyGroup amplify;
    TagGroup tags;

protected:
    void Initialise() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;
    bool Validate(PageRefusal& refusal) override;

private:
    int32_t level_;
    int32_t rate_;
    int32_t width_;
    int32_t channel_;
    int32_t amplifyFlag_;
    int32_t coefficient_;
    int32_t tagType_;
    TagSettings tagSettings_;
};

}  // namespace pelloran
