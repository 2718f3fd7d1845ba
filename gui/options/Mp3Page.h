#pragma once
// "MP3 Options": presets, bit rate and sample rate held to the pairs the encoder takes, channel mode, the
// bit-rate mode (CBR, VBR by quality, ABR) with the LAME header, amplification, tags and the ID3 version.

#include "gui/options/PresetPage.h"

namespace pelloran {

class Mp3Page : public PresetPage {
public:
    Mp3Page(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("MP3 Options"); }
    void CopyBack(ConvertSettings& settings) const override;

    // The sample rate that goes with a newly chosen bit rate, and the bit rate with a new sample rate.
    static int RateForBitRate(int bitRate, int sampleRate);
    static int BitRateForRate(int sampleRate, int bitRate);

    TagGroup tags;
    QComboBox* modeList = nullptr;     // CBR, VBR, ABR
    QComboBox* vbrQualityList = nullptr;  // V0..V9
    QCheckBox* infoTagBox = nullptr;
    QButtonGroup* versionGroup = nullptr;
    QLabel* jointStereoLink = nullptr;
    QLabel* encoderLink = nullptr;

protected:
    void BuildExtras(QVBoxLayout* layout) override;
    void OnValueChanged() override;
    void OnRateChanged() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;

private:
    void UpdateVersionEnabled();
    void UpdateModeEnabled();

    int32_t tagType_;
    int32_t id3Version_;
    int32_t encodeMode_;
    int32_t vbrQuality_;
    int32_t infoTag_;
    TagSettings tagSettings_;
};

}  // namespace pelloran
