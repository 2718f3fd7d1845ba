// AMR (.amr: narrow-band 8 kHz or wide-band 16 kHz) and AMR-WB (.awb): their options, and the plan.

#include "encode/AmrWriter.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;
using F = AmrSettings;
template <auto Member>
constexpr NumberRef AmrField = In<&S::amr, Member>;

constexpr CodeName kAmrTypeList[] = {{"nb", 0}, {"wb", 1}};
constexpr CodeNames kAmrTypeNames = Named(kAmrTypeList);

constexpr NumberRow kNumbers[] = {
    {"AMRMode", AmrField<&F::nbMode>, kSaveOptionsGroup, CheckNone, Span(0, 7), kNoNames,
     "AMR-NB mode (6 is 10.2 kbit/s)"},
    {"AMRWBMode", AmrField<&F::wbMode>, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "AMR-WB mode for .amr output when AMRType is wide-band"},
    {"AMRDTX", AmrField<&F::dtx>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR: discontinuous transmission for .amr output"},
    {"AMRType", AmrField<&F::band>, kSaveOptionsGroup, CheckNone, kSwitch, kAmrTypeNames,
     ".amr output: narrow-band 8 kHz or wide-band 16 kHz"},
    {"AWBMode", AmrField<&F::awbMode>, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "AMR-WB mode for .awb output"},
    {"AWBDTX", AmrField<&F::awbDtx>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR-WB: discontinuous transmission for .awb output"},
    {"AmplifyAMR", AmrField<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AMR: amplify by AmplifyAMRCoef"},
    {"AmplifyAMRCoef", AmrField<&F::gain>, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "AMR: gain in percent"},
};

constexpr FormatControls kControls = {
    .amplify = "AmplifyAMR",
    .gain = "AmplifyAMRCoef",
};

constexpr FormatOptions kOptions = {"AMR", kNumbers, {}, nullptr, nullptr, kControls};

// Padding to the 20 ms frame grid.
FrameSpan AmrLength(const LengthFacts& f) { return Around(f, f.outputRate > 8000 ? 319 : 159); }

bool NarrowBand(const ConvertSettings& s) { return s.OutputFormat == kOutputAmr && s.amr.band == 0; }

int RateHint(const ConvertSettings& s) { return NarrowBand(s) ? 8000 : 16000; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    AmrOptions options;
    if (NarrowBand(s)) {
        options = {AmrBand::Narrow, s.amr.nbMode, s.amr.dtx != 0};
    } else if (s.OutputFormat == kOutputAmr) {
        options = {AmrBand::Wide, s.amr.wbMode, s.amr.dtx != 0};
    } else {
        options = {AmrBand::Wide, s.amr.awbMode, s.amr.awbDtx != 0};
    }
    plan.format = {RateHint(s), 1, 16};
    SetGain(plan, s.amr);
    plan.writer = std::make_unique<AmrWriter>(options);
    return true;
}

}  // namespace

namespace {

constexpr OutputFormatDescriptor kAmr = {
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

}  // namespace

constinit const OutputFormatDescriptor kAmrFormat = kAmr;
constinit const OutputFormatDescriptor kAwbFormat = Sibling(kAmr, kOutputAwb, "awb", "awb", {nullptr, 10});

}  // namespace pelloran
