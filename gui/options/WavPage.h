#pragma once
// "WAV Options": presets, sample width (8 to 32 bits, or the source's), sample rate, channels,
// amplification and tags (a LIST/INFO and an ID3 chunk).

#include "gui/options/PresetPage.h"

namespace pelloran {

class WavPage : public PresetPage {
public:
    WavPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("WAV Options"); }
    void CopyBack(ConvertSettings& settings) const override;

    TagGroup tags;

protected:
    void BuildExtras(QVBoxLayout* layout) override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;

private:
    int32_t tagType_;
    TagSettings tagSettings_;
};

}  // namespace pelloran
