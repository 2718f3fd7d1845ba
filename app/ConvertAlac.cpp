// The ALAC plan: the source's rate, channels and width (at most 24 bits) in an M4A file with the tags and
// gain of the M4A options.

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "encode/AlacWriter.h"

namespace pelloran {

bool PlanAlac(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    PlanLossless(in, 0, 0, 0, 24, kMaxWideChannels, plan);
    plan.tags = ChooseTags(s.M4AID3TagType, s.M4ATag, in.decoder, in.formatCode, in.sourcePath, in.runPosition,
                           false, s.M4ACopyCover != 0)
                    .values;
    SetGain(plan, s.AmplifyM4A, s.AmplifyM4ACoef);
    plan.writer = std::make_unique<AlacWriter>();
    return true;
}

}  // namespace pelloran
