#pragma once
// "WAV Options": presets, sample width (8 to 32 bits, or the source's), sample rate, channels and
// amplification.

#include "gui/options/PresetPage.h"

namespace pelloran {

class WavPage : public PresetPage {
public:
    WavPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("WAV Options"); }
    void CopyBack(ConvertSettings& settings) const override;
};

}  // namespace pelloran
