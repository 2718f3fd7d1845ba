#pragma once
// The conversion loops: one source file into one target file in the chosen output format.

#include <cstdint>
#include <string>

#include "decode/DecoderFactory.h"
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
    bool truncated = false;  // set by RunFormatLoop: the source ended before its header said
};

// What the format stage decided for the block loop.
struct StreamPlan {
    int rate = 0;            // target rate
    int channels = 0;        // target channels (1 or 2)
    int bits = 16;           // target width (8 or 16)
    bool convert = false;    // put a PcmConverter between decoder and writer
    int selectChannel = 0;   // 0 none; 1 left or 2 right fed as a mono stream
    bool amplify = false;
    float gain = 1.0f;
};

// The writer side of a loop; the shared skeleton drives it.
class FormatStage {
public:
    virtual ~FormatStage() = default;
    // Rate hint passed to CreateDecoder (the rendering rate of modules and MIDI).
    virtual int RateHint() = 0;
    // Opens the writer on target, resolves the plan, starts the encoder and hands over tags.
    virtual bool Begin(AudioDecoder& decoder, const std::string& source, const std::string& target,
                       ConvertContext& context, StreamPlan& plan) = 0;
    // Writes one block at plan.bits and plan.channels; false stops the loop as a failure.
    virtual bool Write(const void* left, const void* right, int frames) = 0;
    // Finishes and closes the output; false when the file could not be completed.
    virtual bool Finish() = 0;
};

// The shared skeleton: decoder, plan, block loop with progress and Cancel, clean-up.
// Returns 1 on success, 0 on failure or Cancel (the target is then removed unless it is the source).
int RunFormatLoop(FormatStage& stage, uint16_t formatCode, const std::string& source, const std::string& target,
                  ConvertContext& context);

// Conversion wanted between a decoder and a plan's target (the common rule of the WAV, OGG and AMR loops).
bool NeedsConversion(int sourceRate, int sourceChannels, int sourceBits, int targetRate, int targetChannels,
                     int targetBits, int monoType);
// Gain from an amplify switch and coefficient: on when the switch is set and the coefficient is not 100.
void SetGain(StreamPlan& plan, int amplifySwitch, int coefficient);

using ConvertLoopFn = int (*)(uint16_t formatCode, const std::string& source, const std::string& target,
                              ConvertContext& context);

int ConvertToWav(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);
int ConvertToMp3(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);
int ConvertToOgg(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);
int ConvertToAmr(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);
int ConvertToAac(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);
int ConvertToMp4(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);
int ConvertToWma(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);

// The loop of an output-format code, or null for an unknown code.
ConvertLoopFn LoopForFormat(int32_t outputFormat);

}  // namespace pelloran
