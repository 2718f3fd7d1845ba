#pragma once
// The shared shape of the MP3, OGG and WAV pages: a preset list from "Auto" to "Custom", a sample-rate
// list, a bit-rate (or sample-width) list, channel buttons and the amplification group.

#include <vector>

#include "gui/options/OptionsPage.h"

class QVBoxLayout;

namespace pelloran {

struct PresetRow {
    const char* text;
    int sampleRate;
    int value;    // bit rate in kbps, or sample width in bits
    int channel;  // index of the channel button
};

struct PresetPageLayout {
    std::vector<PresetRow> presets;         // the fixed presets, between "Auto" and "Custom"
    std::vector<int> sampleRates;           // "%d Hz"
    std::vector<int> values;                // bit rates or widths
    const char* valueFormat;                // "%1 kbps" or "%1 bits"
    const char* valueCaption;               // label of the bit-rate (or width) list
    std::vector<const char*> channels;      // channel button captions; the last is "Same as &original file"
};

class PresetPage : public OptionsPage {
public:
    void Apply() override;

    QComboBox* presetList = nullptr;
    QComboBox* valueList = nullptr;
    QComboBox* rateList = nullptr;
    QButtonGroup* channelGroup = nullptr;
    AmplifyGroup amplify;

protected:
    PresetPage(PresetPageLayout layout, int32_t autoFlag, int32_t value, int32_t sampleRate, int32_t channel,
                int32_t amplifyFlag, int32_t coefficient, OptionsHooks& hooks, QWidget* parent);

    // Adds the page's own controls below the shared ones and initialises them.
    virtual void BuildExtras(QVBoxLayout* layout) { (void)layout; }
    virtual void OnValueChanged();
    virtual void OnRateChanged();
    virtual void OnChannelClicked();

    void Initialise() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;
    bool Validate(PageRefusal& refusal) override;

    void SelectCustom();
    bool SameAsSourceChannels() const { return channel_ == static_cast<int32_t>(layout_.channels.size()) - 1; }

    PresetPageLayout layout_;
    int32_t auto_;
    int32_t value_;
    int32_t sampleRate_;
    int32_t channel_;
    int customIndex_ = 0;
    int32_t amplifyFlag_;
    int32_t coefficient_;

private:
    void PresetChosen();
    void SetDetailsEnabled(bool enabled);
};

}  // namespace pelloran
