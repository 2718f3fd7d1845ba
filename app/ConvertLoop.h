#pragma once
// One file's conversion: the source's reader, the output format's plan and writer, and the one block loop
// between them. The plan rules of each format live in app/Convert<Format>.cpp.

#include <cstdint>
#include <memory>
#include <string>

#include "decode/DecoderFactory.h"
#include "encode/AudioWriter.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

class AudioDecoder;
class ProgressSink;

// State of one file's conversion; one per file, so that files can convert in parallel.
struct ConvertContext {
    const ConvertSettings& settings;
    ProgressSink& progress;
    DecoderContext decoder;  // decoder.failureNote is the note shown after "Conversion Failure"
    int runPosition = 1;     // 1-based position in the run (a track number source)
    bool truncated = false;  // set by the loop: the source ended before its header said
};

// What a plan looks at.
struct PlanInput {
    const ConvertSettings& settings;
    AudioDecoder& decoder;   // the source's own bit rate, MPEG channel mode and tags
    const PcmFormat& source;  // what the reader delivers, worked out once by the loop
    const PcmFormat& wide;    // what the reader can give on the wide path; rate 0 when nothing
    uint16_t formatCode;     // the source's input format
    const std::string& sourcePath;
    int runPosition;
};

// What a plan decides: the writer with its options, the PCM it takes (the loop picks or mixes channels by
// MonoType, and converts rate and width, to get there), its tags and the gain. A wide format is either read
// wide (readWide: the reader's wide output, changed in width and gain, and for one or two channels in rate
// and count too) or fed the narrow blocks, converted at 16 bits and widened.
struct WriterPlan {
    std::unique_ptr<AudioWriter> writer;
    PcmFormat format;
    bool readWide = false;
    TagRecord tags;
    bool amplify = false;
    float gain = 1.0f;
};

// The rules of an output format.
struct OutputRecipe {
    int32_t code;
    // Null, or false when the format cannot be written now: nothing is opened then, not even the source.
    bool (*available)();
    // The rendering rate asked of module and MIDI readers.
    int (*rateHint)(const ConvertSettings& settings);
    // False when the format has nothing for this source.
    bool (*plan)(const PlanInput& input, WriterPlan& plan);
};

// The recipe of an output-format code, or null.
const OutputRecipe* RecipeForFormat(int32_t outputFormat);

// Converts source into target in the output format of context.settings. Returns 1 on success, 0 on failure or
// Cancel; the writer then leaves nothing at target.
int ConvertFile(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);

using ConvertLoopFn = int (*)(uint16_t formatCode, const std::string& source, const std::string& target,
                              ConvertContext& context);
// ConvertFile for an output-format code that has a recipe, otherwise null.
ConvertLoopFn LoopForFormat(int32_t outputFormat);

// Gain from an amplify switch and coefficient: on when the switch is set and the coefficient is not 100.
void SetGain(WriterPlan& plan, int amplifySwitch, int coefficient);

// The format of a lossless writer. rate and channels: what the options ask, 0 for the source's; bits: 0 for
// the source's width, else 8, 16, 24 or 32, held to maxBits; maxChannels: what the format stores. The
// reader's wide output is read when it gives more than the narrow path holds (over 16 bits or over two
// channels): as it is when rate and channels stay, converted at the target's width when one or two channels
// change rate or count; otherwise the narrow blocks are converted (and widened for more than 16 bits).
void PlanLossless(const PlanInput& input, int rate, int channels, int bits, int maxBits, int maxChannels,
                  WriterPlan& plan);

// The plan rules of the formats.
int WavRateHint(const ConvertSettings& settings);
bool PlanWav(const PlanInput& input, WriterPlan& plan);
int Mp3RateHint(const ConvertSettings& settings);
bool PlanMp3(const PlanInput& input, WriterPlan& plan);
int OggRateHint(const ConvertSettings& settings);
bool PlanOgg(const PlanInput& input, WriterPlan& plan);
int AmrRateHint(const ConvertSettings& settings);
bool PlanAmr(const PlanInput& input, WriterPlan& plan);
int AacRateHint(const ConvertSettings& settings);
bool PlanAac(const PlanInput& input, WriterPlan& plan);
bool PlanMp4(const PlanInput& input, WriterPlan& plan);
int WmaRateHint(const ConvertSettings& settings);
bool PlanWma(const PlanInput& input, WriterPlan& plan);
int FlacRateHint(const ConvertSettings& settings);
bool PlanFlac(const PlanInput& input, WriterPlan& plan);
int OpusRateHint(const ConvertSettings& settings);
bool PlanOpus(const PlanInput& input, WriterPlan& plan);
bool PlanAlac(const PlanInput& input, WriterPlan& plan);

}  // namespace pelloran
