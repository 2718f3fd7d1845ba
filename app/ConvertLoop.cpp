#include "app/ConvertLoop.h"

#include <cstdio>
#include <vector>

#include "platform/Paths.h"
#include "app/Progress.h"
#include "decode/AudioDecoder.h"
#include "encode/PcmConverter.h"

namespace pelloran {

namespace {

// Largest block the format stages get from the converter.
constexpr int kConvertedFrames = 4096;

constexpr const char* kNoAudioNote = "No audio could be decoded";

std::string ProgressText(const std::string& name, unsigned percent) {
    return "Converting " + name + "..." + std::to_string(percent) + "%";
}

// Removes a failed target unless it is the source itself.
void RemoveTarget(const std::string& target, const std::string& source) {
    if (!SamePathIgnoreCase(target, source)) std::remove(target.c_str());
}

}  // namespace

bool NeedsConversion(int sourceRate, int sourceChannels, int sourceBits, int targetRate, int targetChannels,
                     int targetBits, int monoType) {
    return sourceRate != targetRate || sourceBits != targetBits || sourceChannels < targetChannels ||
           (sourceChannels > targetChannels && monoType == 0);
}

void SetGain(StreamPlan& plan, int amplifySwitch, int coefficient) {
    plan.amplify = amplifySwitch != 0 && coefficient != 100;
    plan.gain = static_cast<float>(coefficient) * 0.01f;
}

int RunFormatLoop(FormatStage& stage, uint16_t formatCode, const std::string& source, const std::string& target,
                  ConvertContext& context) {
    std::unique_ptr<AudioDecoder> decoder =
        CreateDecoder(source, formatCode, stage.RateHint(), true, context.decoder);
    if (!decoder) return 0;

    StreamPlan plan;
    if (!stage.Begin(*decoder, source, target, context, plan)) {
        decoder->Close();
        stage.Finish();
        RemoveTarget(target, source);
        return 0;
    }

    const int decoderBits = decoder->GetBitsPerSample() == 8 ? 8 : 16;
    const int decoderChannels = decoder->GetOutputChannels() == 2 ? 2 : 1;
    const size_t blockBytes = static_cast<size_t>(kBlockFrames) * static_cast<size_t>(decoderBits / 8);
    std::vector<uint8_t> left(blockBytes);
    std::vector<uint8_t> right(decoderChannels == 2 ? blockBytes : 0);
    const bool select = plan.selectChannel != 0 && decoderChannels == 2 && plan.channels < decoderChannels;

    PcmConverter converter;
    std::vector<uint8_t> outLeft;
    std::vector<uint8_t> outRight;
    if (plan.convert) {
        converter.sourceChannels = select ? 1 : decoderChannels;
        converter.sourceRate = decoder->GetSampleRate();
        converter.sourceBits = decoderBits;
        converter.targetChannels = plan.channels;
        converter.targetRate = plan.rate;
        converter.targetBits = plan.bits;
        const size_t outBytes = static_cast<size_t>(kConvertedFrames) * static_cast<size_t>(plan.bits / 8);
        outLeft.resize(outBytes);
        if (plan.channels == 2) outRight.resize(outBytes);
    }

    // The block loop; 1 when the stream ended, 0 on Cancel or a failure.
    const auto pumpBlocks = [&]() -> int {
        if (plan.convert && !converter.Prepare()) return 0;
        const std::string name = FileNamePart(source);
        ProgressSink& progress = context.progress;
        uint64_t length = decoder->GetLength();
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
            const int channels = plan.channels == 2 ? 2 : 1;
            if (plan.amplify) {
                if (plan.bits == 16)
                    AmplifySamples16(static_cast<int16_t*>(l), static_cast<int16_t*>(r), frames, channels, plan.gain);
                else
                    AmplifySamples8(static_cast<uint8_t*>(l), static_cast<uint8_t*>(r), frames, channels, plan.gain);
            }
            return stage.Write(l, r, frames);
        };
        // Hands what the converter gives on in blocks of at most kConvertedFrames, whatever the rate ratio;
        // false on a write failure or Cancel (one source block can become many output blocks).
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
            int frames = decoder->Read(left.data(), decoderChannels == 2 ? right.data() : nullptr);
            if (frames <= 0) break;
            if (frames > kBlockFrames) frames = kBlockFrames;
            framesRead += static_cast<uint64_t>(frames);

            const uint64_t pos = decoder->GetPosition();
            uint64_t percent64 = static_cast<uint32_t>(pos / percentDivisor);
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
            void* r = decoderChannels == 2 ? right.data() : nullptr;
            if (select) {
                if (plan.selectChannel == 2) l = r;
                r = nullptr;
            }
            if (!plan.convert) {
                if (!writeBlock(l, r, frames)) return 0;
            } else {
                converter.Push(l, r, frames);
                if (!writeConverted()) return 0;
            }
            if (stopAtLength && pos >= decoder->GetLength()) break;
        }
        context.truncated = decoder->IsTruncated();
        // A header that promised audio and not one frame behind it: a failure, not an empty file.
        if (framesRead == 0 && (decoder->GetLength() > 0 || context.truncated)) {
            context.decoder.failureNote = kNoAudioNote;
            return 0;
        }

        // End of stream: drain the resampler so the tail of the audio is kept.
        if (plan.convert) {
            converter.End();
            if (!writeConverted()) return 0;
        }
        if (lastPercent != 100) {
            progress.SetFileText(ProgressText(name, 100));
            progress.SetFileBar(barWidth);
        }
        return 1;
    };

    int result = pumpBlocks();
    decoder->Close();
    decoder.reset();
    if (!stage.Finish()) result = 0;
    if (result == 0) RemoveTarget(target, source);
    return result;
}

ConvertLoopFn LoopForFormat(int32_t outputFormat) {
    switch (outputFormat) {
        case kOutputMp3: return ConvertToMp3;
        case kOutputWav: return ConvertToWav;
        case kOutputOgg: return ConvertToOgg;
        case kOutputAmr:
        case kOutputAwb: return ConvertToAmr;
        case kOutputAac: return ConvertToAac;
        case kOutputM4a:
        case kOutputMp4:
        case kOutputM4b: return ConvertToMp4;
        case kOutputWma: return ConvertToWma;
        default: return nullptr;
    }
}

}  // namespace pelloran
