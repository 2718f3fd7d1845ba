// The AMR plan (amr and awb): mono 16-bit audio at 8000 Hz (narrow-band) or 16000 Hz (wide-band).

#include "app/ConvertLoop.h"
#include "encode/AmrWriter.h"

namespace pelloran {

namespace {
bool NarrowBand(const ConvertSettings& s) { return s.OutputFormat == kOutputAmr && s.AMRType == 0; }
}  // namespace

int AmrRateHint(const ConvertSettings& s) { return NarrowBand(s) ? 8000 : 16000; }

bool PlanAmr(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    AmrOptions options;
    if (NarrowBand(s)) {
        options = {AmrBand::Narrow, s.AMRMode, s.AMRDTX != 0};
    } else if (s.OutputFormat == kOutputAmr) {
        options = {AmrBand::Wide, s.AMRWBMode, s.AMRDTX != 0};
    } else {
        options = {AmrBand::Wide, s.AWBMode, s.AWBDTX != 0};
    }
    plan.format = {AmrRateHint(s), 1, 16};
    SetGain(plan, s.AmplifyAMR, s.AmplifyAMRCoef);
    plan.writer = std::make_unique<AmrWriter>(options);
    return true;
}

}  // namespace pelloran
