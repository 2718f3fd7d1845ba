#include "app/ConvertLoop.h"

#include <vector>

#include "app/Progress.h"
#include "decode/AudioDecoder.h"
#include "encode/PcmConverter.h"
#include "platform/Paths.h"
#include "platform/wm.h"

namespace pelloran {

namespace {

// Largest block the writers get from the converter.
constexpr int kConvertedFrames = 4096;

constexpr const char* kNoAudioNote = "No audio could be decoded";

constexpr OutputRecipe kOutputRecipes[] = {
    {kOutputMp3, nullptr, Mp3RateHint, PlanMp3},
    {kOutputWav, nullptr, WavRateHint, PlanWav},
    {kOutputOgg, nullptr, OggRateHint, PlanOgg},
    {kOutputAmr, nullptr, AmrRateHint, PlanAmr},
    {kOutputAwb, nullptr, AmrRateHint, PlanAmr},
    {kOutputAac, nullptr, AacRateHint, PlanAac},
    {kOutputM4a, nullptr, AacRateHint, PlanMp4},
    {kOutputMp4, nullptr, AacRateHint, PlanMp4},
    {kOutputM4b, nullptr, AacRateHint, PlanMp4},
    {kOutputWma, WmaRuntimeReady, WmaRateHint, PlanWma},
};

std::string ProgressText(const std::string& name, unsigned percent) {
    return "Converting " + name + "..." + std::to_string(percent) + "%";
}

// The block loop: reads the source to its end and hands every block to the writer, picking or mixing channels,
// converting rate and width and applying the gain on the way. 1 when the stream ended, 0 on Cancel or a failure.
int PumpBlocks(AudioDecoder& decoder, const PcmFormat& source, WriterPlan& plan, uint16_t formatCode,
               const std::string& sourcePath, ConvertContext& context) {
    const PcmFormat& target = plan.format;
    const ChannelChoice choice = ChooseChannels(source.channels, target.channels, context.settings.MonoType);
    const bool pick = choice == ChannelChoice::Left || choice == ChannelChoice::Right;
    PcmFormat fed = source;  // what reaches the converter or the writer
    if (pick) fed.channels = 1;
    const bool convert = fed != target;

    const size_t blockBytes = static_cast<size_t>(kBlockFrames) * static_cast<size_t>(source.bits / 8);
    std::vector<uint8_t> left(blockBytes);
    std::vector<uint8_t> right(source.channels == 2 ? blockBytes : 0);
    PcmConverter converter;
    std::vector<uint8_t> outLeft;
    std::vector<uint8_t> outRight;
    if (convert) {
        converter.sourceChannels = fed.channels;
        converter.sourceRate = fed.rate;
        converter.sourceBits = fed.bits;
        converter.targetChannels = target.channels;
        converter.targetRate = target.rate;
        converter.targetBits = target.bits;
        if (!converter.Prepare()) return 0;
        const size_t outBytes = static_cast<size_t>(kConvertedFrames) * static_cast<size_t>(target.bits / 8);
        outLeft.resize(outBytes);
        if (target.channels == 2) outRight.resize(outBytes);
    }

    const std::string name = FileNamePart(sourcePath);
    ProgressSink& progress = context.progress;
    uint64_t length = decoder.GetLength();
    uint64_t percentDivisor = length / 100;
    if (length == 0) length = 1;
    if (percentDivisor == 0) percentDivisor = 1;
    const int barWidth = progress.FileBarWidth() > 0 ? progress.FileBarWidth() : 1;
    uint64_t barDivisor = length / static_cast<uint64_t>(barWidth);
    if (barDivisor == 0) barDivisor = 1;
    uint32_t lastPercent = 0;
    uint32_t lastBar = 0;
    const bool stopAtLength = formatCode == 3000 || formatCode == 3050;

    const auto writeBlock = [&](void* l, void* r, int frames) {
        if (plan.amplify) {
            if (target.bits == 16)
                AmplifySamples16(static_cast<int16_t*>(l), static_cast<int16_t*>(r), frames, target.channels,
                                 plan.gain);
            else
                AmplifySamples8(static_cast<uint8_t*>(l), static_cast<uint8_t*>(r), frames, target.channels,
                                plan.gain);
        }
        return plan.writer->Write(l, r, frames);
    };
    // Hands what the converter gives on in blocks of at most kConvertedFrames, whatever the rate ratio; false
    // on a write failure or Cancel (one source block can become many output blocks).
    const auto writeConverted = [&]() {
        void* r = outRight.empty() ? nullptr : outRight.data();
        for (int blocks = 0;; ++blocks) {
            if (blocks > 0) {
                progress.Pump();
                if (progress.CancelRequested()) return false;
            }
            const int produced = converter.Pull(outLeft.data(), r, kConvertedFrames);
            if (produced <= 0) return true;
            if (!writeBlock(outLeft.data(), r, produced)) return false;
        }
    };

    uint64_t framesRead = 0;
    while (true) {
        int frames = decoder.Read(left.data(), source.channels == 2 ? right.data() : nullptr);
        if (frames <= 0) break;
        if (frames > kBlockFrames) frames = kBlockFrames;
        framesRead += static_cast<uint64_t>(frames);

        const uint64_t pos = decoder.GetPosition();
        const uint64_t percent64 = static_cast<uint32_t>(pos / percentDivisor);
        const uint32_t percent = static_cast<uint32_t>(percent64 > 100 ? 100 : percent64);
        if (percent > lastPercent) {
            progress.SetFileText(ProgressText(name, percent));
            lastPercent = percent;
        }
        const uint32_t bar = static_cast<uint32_t>(pos / barDivisor);
        if (bar > lastBar) {
            progress.SetFileBar(static_cast<int>(bar > static_cast<uint32_t>(barWidth) ? barWidth : bar));
            lastBar = bar;
        }
        progress.Pump();
        if (progress.CancelRequested()) return 0;

        void* l = left.data();
        void* r = source.channels == 2 ? right.data() : nullptr;
        if (pick) {
            if (choice == ChannelChoice::Right) l = r;
            r = nullptr;
        }
        if (!convert) {
            if (!writeBlock(l, r, frames)) return 0;
        } else {
            converter.Push(l, r, frames);
            if (!writeConverted()) return 0;
        }
        if (stopAtLength && pos >= decoder.GetLength()) break;
    }
    context.truncated = decoder.IsTruncated();
    // A header that promised audio and not one frame behind it: a failure, not an empty file.
    if (framesRead == 0 && (decoder.GetLength() > 0 || context.truncated)) {
        context.decoder.failureNote = kNoAudioNote;
        return 0;
    }

    // End of stream: drain the resampler so the tail of the audio is kept.
    if (convert) {
        converter.End();
        if (!writeConverted()) return 0;
    }
    if (lastPercent != 100) {
        progress.SetFileText(ProgressText(name, 100));
        progress.SetFileBar(barWidth);
    }
    return 1;
}

}  // namespace

const OutputRecipe* RecipeForFormat(int32_t outputFormat) {
    for (const OutputRecipe& recipe : kOutputRecipes) {
        if (recipe.code == outputFormat) return &recipe;
    }
    return nullptr;
}

ConvertLoopFn LoopForFormat(int32_t outputFormat) {
    return RecipeForFormat(outputFormat) != nullptr ? ConvertFile : nullptr;
}

void SetGain(WriterPlan& plan, int amplifySwitch, int coefficient) {
    plan.amplify = amplifySwitch != 0 && coefficient != 100;
    plan.gain = static_cast<float>(coefficient) * 0.01f;
}

int ConvertFile(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    const ConvertSettings& settings = context.settings;
    const OutputRecipe* recipe = RecipeForFormat(settings.OutputFormat);
    if (recipe == nullptr || (recipe->available != nullptr && !recipe->available())) return 0;
    std::unique_ptr<AudioDecoder> decoder =
        CreateDecoder(source, formatCode, recipe->rateHint(settings), true, context.decoder);
    if (!decoder) return 0;

    const PcmFormat sourceFormat{decoder->GetSampleRate(), decoder->GetOutputChannels() == 2 ? 2 : 1,
                                 decoder->GetBitsPerSample() == 8 ? 8 : 16};
    WriterPlan plan;
    const PlanInput input{settings, *decoder, sourceFormat, formatCode, source, context.runPosition};
    if (!sourceFormat.Valid() || !recipe->plan(input, plan) || !plan.writer ||
        !plan.writer->Open(target, plan.format, plan.tags)) {
        decoder->Close();
        return 0;
    }
    const int pumped = PumpBlocks(*decoder, sourceFormat, plan, formatCode, source, context);
    decoder->Close();
    decoder.reset();
    if (pumped == 0) {
        plan.writer->Abort();
        return 0;
    }
    return plan.writer->Finish() ? 1 : 0;
}

}  // namespace pelloran
