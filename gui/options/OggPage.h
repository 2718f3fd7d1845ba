#pragma once
// "OGG Options": presets, the bit rate held within the limits of the sample rate and channels, or a
// quality instead, amplification and tags.

#include "gui/options/PresetPage.h"

namespace pelloran {

class OggPage : public PresetPage {
public:
    OggPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("OGG Options"); }
    void CopyBack(ConvertSettings& settings) const override;

    // Lowest and highest bit rate (kbps) for a sample rate; false for a rate without limits.
    static bool BitRateLimits(int sampleRate, bool mono, int& lowest, int& highest);

    TagGroup tags;
    QButtonGroup* modeGroup = nullptr;  // nominal bit rate, quality
    QComboBox* qualityList = nullptr;

protected:
    void BuildExtras(QVBoxLayout* layout) override;
    void OnValueChanged() override { RateCheck(); }
    void OnRateChanged() override { RateCheck(); }
    void OnChannelClicked() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;

private:
    void RateCheck();

    int32_t encodeMode_;
    int32_t quality_;
    int32_t tagType_;
    TagSettings tagSettings_;
};

}  // namespace pelloran
