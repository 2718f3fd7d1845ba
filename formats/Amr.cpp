// AMR (.amr: narrow-band 8 kHz or wide-band 16 kHz) and AMR-WB (.awb): their options, and the plan.

#include "encode/AmrWriter.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;

constexpr CodeName kAmrTypeList[] = {{"nb", 0}, {"wb", 1}};
constexpr CodeNames kAmrTypeNames = Named(kAmrTypeList);

constexpr NumberRow kNumbers[] = {
    {"AMRMode", Field<&S::AMRMode>, kSaveOptionsGroup, CheckNone, Span(0, 7), kNoNames,
     "AMR-NB mode (6 is 10.2 kbit/s)"},
    {"AMRWBMode", Field<&S::AMRWBMode>, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "AMR-WB mode for .amr output when AMRType is wide-band"},
    {"AMRDTX", Field<&S::AMRDTX>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR: discontinuous transmission for .amr output"},
    {"AMRType", Field<&S::AMRType>, kSaveOptionsGroup, CheckNone, kSwitch, kAmrTypeNames,
     ".amr output: narrow-band 8 kHz or wide-band 16 kHz"},
    {"AWBMode", Field<&S::AWBMode>, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "AMR-WB mode for .awb output"},
    {"AWBDTX", Field<&S::AWBDTX>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR-WB: discontinuous transmission for .awb output"},
    {"AmplifyAMR", Field<&S::AmplifyAMR>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR: amplify by AmplifyAMRCoef"},
    {"AmplifyAMRCoef", Field<&S::AmplifyAMRCoef>, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "AMR: gain in percent"},
};

constexpr FormatControls kControls = {
    .amplify = "AmplifyAMR",
    .gain = "AmplifyAMRCoef",
};

constexpr FormatOptions kOptions = {"AMR", kNumbers, {}, nullptr, nullptr, kControls};

// Padding to the 20 ms frame grid.
FrameSpan AmrLength(const LengthFacts& f) { return Around(f, f.outputRate > 8000 ? 319 : 159); }

bool NarrowBand(const ConvertSettings& s) { return s.OutputFormat == kOutputAmr && s.AMRType == 0; }

int RateHint(const ConvertSettings& s) { return NarrowBand(s) ? 8000 : 16000; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    AmrOptions options;
    if (NarrowBand(s)) {
        options = {AmrBand::Narrow, s.AMRMode, s.AMRDTX != 0};
    } else if (s.OutputFormat == kOutputAmr) {
        options = {AmrBand::Wide, s.AMRWBMode, s.AMRDTX != 0};
    } else {
        options = {AmrBand::Wide, s.AWBMode, s.AWBDTX != 0};
    }
    plan.format = {RateHint(s), 1, 16};
    SetGain(plan, s.AmplifyAMR, s.AmplifyAMRCoef);
    plan.writer = std::make_unique<AmrWriter>(options);
    return true;
}

}  // namespace

constinit const OutputFormatDescriptor kAmrFormat = {
    .code = kOutputAmr,
    .name = "amr",
    .extension = "amr",
    .listRows = {{nullptr, 9}, {}},
    .lossless = false,
    .maxChannels = 1,
    .tags = false,
    .options = &kOptions,
    .length = AmrLength,
    .rateHint = RateHint,
    .plan = Plan,
};

constinit const OutputFormatDescriptor kAwbFormat = {
    .code = kOutputAwb,
    .name = "awb",
    .extension = "awb",
    .listRows = {{nullptr, 10}, {}},
    .lossless = false,
    .maxChannels = 1,
    .tags = false,
    .options = &kOptions,
    .length = AmrLength,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
