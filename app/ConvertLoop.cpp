#include "app/ConvertLoop.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/Progress.h"
#include "decode/AudioDecoder.h"
#include "encode/BackgroundWriter.h"
#include "encode/PcmConverter.h"
#include "formats/EncodingParams.h"
#include "platform/Paths.h"

namespace pelloran {

namespace {

// Largest block the writers get from the converter.
constexpr int kConvertedFrames = 4096;


// The file's progress text and bar from the reader's position, and Cancel.
class FileProgress {
public:
    FileProgress(AudioDecoder& decoder, ProgressSink& progress, const std::string& sourcePath)
        : decoder_(decoder), progress_(progress), name_(FileNamePart(sourcePath)) {
        uint64_t length = decoder.GetLength();
        percentDivisor_ = length / 100;
        if (length == 0) length = 1;
        if (percentDivisor_ == 0) percentDivisor_ = 1;
        barWidth_ = progress.FileBarWidth() > 0 ? progress.FileBarWidth() : 1;
        barDivisor_ = length / static_cast<uint64_t>(barWidth_);
        if (barDivisor_ == 0) barDivisor_ = 1;
    }

    // After each block read: shows the position; false on Cancel.
    bool Step() {
        const uint64_t pos = decoder_.GetPosition();
        const uint64_t percent64 = static_cast<uint32_t>(pos / percentDivisor_);
        const uint32_t percent = static_cast<uint32_t>(percent64 > 100 ? 100 : percent64);
        if (percent > lastPercent_) {
            progress_.SetFileStep({FileStage::Converting, name_, static_cast<int>(percent)});
            lastPercent_ = percent;
        }
        const uint32_t bar = static_cast<uint32_t>(pos / barDivisor_);
        if (bar > lastBar_) {
            progress_.SetFileBar(static_cast<int>(bar > static_cast<uint32_t>(barWidth_) ? barWidth_ : bar));
            lastBar_ = bar;
        }
        return Breathe();
    }
    // Lets the front end breathe; false on Cancel.
    bool Breathe() {
        progress_.Pump();
        return !progress_.CancelRequested();
    }
    void Done() {
        if (lastPercent_ == 100) return;
        progress_.SetFileStep({FileStage::Converting, name_, 100});
        progress_.SetFileBar(barWidth_);
    }

private:
    AudioDecoder& decoder_;
    ProgressSink& progress_;
    std::string name_;
    uint64_t percentDivisor_ = 1;
    uint64_t barDivisor_ = 1;
    int barWidth_ = 1;
    uint32_t lastPercent_ = 0;
    uint32_t lastBar_ = 0;
};

// The end of the reading: a header that promised audio and not one frame behind it is a failure, not an
// empty file.
bool AudioWasRead(AudioDecoder& decoder, uint64_t framesRead, ConvertContext& context) {
    context.truncated = decoder.IsTruncated();
    context.report.framesRead = framesRead;
    if (framesRead == 0 && (decoder.GetLength() > 0 || context.truncated)) {
        if (context.note.empty()) context.note = MakeNote(NoteCode::NoAudioDecoded);
        return false;
    }
    return true;
}

// Narrow samples of a block into int32 planes at bits (8-bit unsigned and 16-bit signed move up to the
// top of the width).
void Widen(const void* in, int narrowBits, int frames, int bits, int32_t* out) {
    if (narrowBits == 16) {
        const auto* s = static_cast<const int16_t*>(in);
        for (int i = 0; i < frames; ++i) out[i] = static_cast<int32_t>(static_cast<uint32_t>(s[i]) << (bits - 16));
    } else {
        const auto* u = static_cast<const uint8_t*>(in);
        for (int i = 0; i < frames; ++i)
            out[i] = static_cast<int32_t>(static_cast<uint32_t>(u[i] - 128) << (bits - 8));
    }
}

// A wide block from one width to another (left-shifted up, arithmetic shift down), then the gain, clamped
// to the width.
void AdaptWide(int32_t* samples, int frames, int fromBits, int toBits, bool amplify, float gain) {
    if (toBits > fromBits) {
        for (int i = 0; i < frames; ++i)
            samples[i] = static_cast<int32_t>(static_cast<uint32_t>(samples[i]) << (toBits - fromBits));
    } else if (toBits < fromBits) {
        for (int i = 0; i < frames; ++i) samples[i] >>= fromBits - toBits;
    }
    if (!amplify) return;
    const double top = static_cast<double>((int64_t{1} << (toBits - 1)) - 1);
    for (int i = 0; i < frames; ++i)
        samples[i] = static_cast<int32_t>(std::clamp(std::trunc(gain * static_cast<double>(samples[i])), -top, top));
}

// The block loop: reads the source to its end and hands every block to the writer, picking or mixing channels,
// converting rate and width and applying the gain on the way. From a narrow source a wide target gets 16-bit
// blocks widened; a wide source of one or two channels (wideSource) is read wide and converted at the
// target's width. 1 when the stream ended, 0 on Cancel or a failure.
int PumpBlocks(AudioDecoder& decoder, const PcmFormat& sourceFormat, WriterPlan& plan, uint16_t formatCode,
               const std::string& sourcePath, ConvertContext& context, bool wideSource) {
    // Rate, channels and width only: 24 and 32 bits are int32 samples in the converter too.
    const PcmFormat source{sourceFormat.rate, sourceFormat.channels, sourceFormat.bits};
    const PcmFormat target{plan.format.rate, plan.format.channels,
                           plan.format.wide && !wideSource ? 16 : plan.format.bits};
    const ChannelChoice choice = ChooseChannels(source.channels, target.channels, context.settings.MonoType);
    const bool pick = choice == ChannelChoice::Left || choice == ChannelChoice::Right;
    PcmFormat fed = source;  // what reaches the converter or the writer
    if (pick) fed.channels = 1;
    const bool convert = fed != target;

    const size_t blockBytes = static_cast<size_t>(kBlockFrames) * SampleBytes(source.bits);
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
        const size_t outBytes = static_cast<size_t>(kConvertedFrames) * SampleBytes(target.bits);
        outLeft.resize(outBytes);
        if (target.channels == 2) outRight.resize(outBytes);
    }
    std::vector<int32_t> wideLeft;
    std::vector<int32_t> wideRight;
    if (plan.format.wide && !wideSource) {
        wideLeft.resize(static_cast<size_t>(std::max(kBlockFrames, kConvertedFrames)));
        wideRight.resize(wideLeft.size());
    }

    FileProgress progress(decoder, context.progress, sourcePath);
    const bool stopAtLength = formatCode == kInputModule || formatCode == kInputMidi;

    const auto writeBlock = [&](void* l, void* r, int frames) {
        if (target.bits > 16) {
            int32_t* planes[2] = {static_cast<int32_t*>(l), static_cast<int32_t*>(r)};
            for (int c = 0; c < target.channels; ++c)
                AdaptWide(planes[c], frames, target.bits, target.bits, plan.amplify, plan.gain);
            return plan.writer->WriteWide(planes, frames);
        }
        if (plan.amplify) {
            if (target.bits == 16)
                AmplifySamples16(static_cast<int16_t*>(l), static_cast<int16_t*>(r), frames, target.channels,
                                 plan.gain);
            else
                AmplifySamples8(static_cast<uint8_t*>(l), static_cast<uint8_t*>(r), frames, target.channels,
                                plan.gain);
        }
        if (!plan.format.wide) return plan.writer->Write(l, r, frames);
        Widen(l, target.bits, frames, plan.format.bits, wideLeft.data());
        if (target.channels == 2) Widen(r, target.bits, frames, plan.format.bits, wideRight.data());
        const int32_t* planes[2] = {wideLeft.data(), wideRight.data()};
        return plan.writer->WriteWide(planes, frames);
    };
    // Hands what the converter gives on in blocks of at most kConvertedFrames, whatever the rate ratio; false
    // on a write failure or Cancel (one source block can become many output blocks).
    const auto writeConverted = [&]() {
        void* r = outRight.empty() ? nullptr : outRight.data();
        for (int blocks = 0;; ++blocks) {
            if (blocks > 0 && !progress.Breathe()) return false;
            const int produced = converter.Pull(outLeft.data(), r, kConvertedFrames);
            if (produced <= 0) return true;
            if (!writeBlock(outLeft.data(), r, produced)) return false;
        }
    };

    uint64_t framesRead = 0;
    while (true) {
        int frames = 0;
        if (wideSource) {
            int32_t* planes[2] = {reinterpret_cast<int32_t*>(left.data()), reinterpret_cast<int32_t*>(right.data())};
            frames = decoder.ReadWide(planes);
        } else {
            frames = decoder.Read(left.data(), source.channels == 2 ? right.data() : nullptr);
        }
        if (frames <= 0) break;
        if (frames > kBlockFrames) frames = kBlockFrames;
        framesRead += static_cast<uint64_t>(frames);
        if (!progress.Step()) return 0;

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
        if (stopAtLength && decoder.GetPosition() >= decoder.GetLength()) break;
    }
    if (!AudioWasRead(decoder, framesRead, context)) return 0;

    // End of stream: drain the resampler so the tail of the audio is kept.
    if (convert) {
        converter.End();
        if (!writeConverted()) return 0;
    }
    progress.Done();
    return 1;
}

// The wide loop: every channel of the reader's wide output at its rate, changed only in width and gain.
int PumpWide(AudioDecoder& decoder, const PcmFormat& source, WriterPlan& plan, const std::string& sourcePath,
             ConvertContext& context) {
    const PcmFormat& target = plan.format;
    std::vector<std::vector<int32_t>> buffers(static_cast<size_t>(source.channels),
                                              std::vector<int32_t>(static_cast<size_t>(kBlockFrames)));
    std::vector<int32_t*> planes;
    for (auto& buffer : buffers) planes.push_back(buffer.data());

    FileProgress progress(decoder, context.progress, sourcePath);
    uint64_t framesRead = 0;
    while (true) {
        int frames = decoder.ReadWide(planes.data());
        if (frames <= 0) break;
        if (frames > kBlockFrames) frames = kBlockFrames;
        framesRead += static_cast<uint64_t>(frames);
        if (!progress.Step()) return 0;
        for (int32_t* plane : planes) AdaptWide(plane, frames, source.bits, target.bits, plan.amplify, plan.gain);
        if (!plan.writer->WriteWide(planes.data(), frames)) return 0;
    }
    if (!AudioWasRead(decoder, framesRead, context)) return 0;
    progress.Done();
    return 1;
}

// The note of a writer's failure, kept when the entry has none yet (the reader's comes first).
void NoteWriterFailure(const AudioWriter& writer, ConvertContext& context) {
    if (!context.note.empty() || !context.decoder.failureNote.empty() || context.progress.CancelRequested()) return;
    const WriterFailure failure = writer.Failure();
    const std::string format = OutputFormatName(context.settings.OutputFormat);
    const uint64_t value = static_cast<uint64_t>(std::max<int64_t>(failure.value, 0));
    switch (failure.error) {
        case WriterError::None: break;
        case WriterError::System: context.note = MakeNote(NoteCode::WriterSystem, {}, static_cast<int>(failure.value)); break;
        case WriterError::NoAudio: context.note = MakeNote(NoteCode::SourceHoldsNoAudio); break;
        case WriterError::RateTooHigh: context.note = ValuesNote(NoteCode::RateTooHigh, {value}, format); break;
        case WriterError::TagsTooLarge: context.note = ValuesNote(NoteCode::TagsTooLarge, {value}, format); break;
        case WriterError::Library: context.note = ReaderNote(failure.text); break;
    }
}

}  // namespace

int ConvertFile(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    const ConvertSettings& settings = context.settings;
    const OutputFormatDescriptor* recipe = FindOutputFormat(settings.OutputFormat);
    if (recipe == nullptr || recipe->plan == nullptr || (recipe->available != nullptr && !recipe->available()))
        return 0;
    std::unique_ptr<AudioDecoder> decoder =
        CreateDecoder(source, formatCode, recipe->rateHint != nullptr ? recipe->rateHint(settings) : 0, true,
                      context.decoder);
    if (!decoder) {
        context.report.unreadable = true;
        return 0;
    }

    const PcmFormat sourceFormat{decoder->GetSampleRate(), decoder->GetOutputChannels() == 2 ? 2 : 1,
                                 decoder->GetBitsPerSample() == 8 ? 8 : 16};
    PcmFormat wideFormat = decoder->WideFormat();
    if (!wideFormat.Valid() || !wideFormat.wide) wideFormat = {0, 0, 0, true};
    WriterPlan plan;
    const PlanInput input{settings, *decoder, sourceFormat, wideFormat, formatCode, source, context.runPosition};
    bool ready = sourceFormat.Valid() && recipe->plan(input, plan) && plan.writer;
    // Reading wide: the reader's own rate and channels, or one or two channels converted, in a wide format.
    const bool sameShape = wideFormat.rate == plan.format.rate && wideFormat.channels == plan.format.channels;
    if (ready && plan.readWide)
        ready = plan.format.wide && (sameShape || (wideFormat.channels <= 2 && plan.format.channels <= 2)) &&
                decoder->UseWide();
    if (ready) {
        const DroppedTags dropped = TagsLeftBehind(settings, plan.tags, *decoder, source);
        context.report.tagsDropped = dropped.names;
        context.report.largePictures = dropped.largePictures;
        context.report.sourceRate = sourceFormat.rate;
    }
    // Encoding runs beside the decoding.
    if (ready) plan.writer = std::make_unique<BackgroundWriter>(std::move(plan.writer));
    if (!ready || !plan.writer->Open(target, plan.format, plan.tags)) {
        if (ready) NoteWriterFailure(*plan.writer, context);
        decoder->Close();
        return 0;
    }
    const int pumped = plan.readWide && sameShape ? PumpWide(*decoder, wideFormat, plan, source, context)
                       : plan.readWide ? PumpBlocks(*decoder, wideFormat, plan, formatCode, source, context, true)
                                       : PumpBlocks(*decoder, sourceFormat, plan, formatCode, source, context, false);
    decoder->Close();
    decoder.reset();
    if (pumped == 0) {
        plan.writer->Abort();
        NoteWriterFailure(*plan.writer, context);
        return 0;
    }
    if (plan.writer->Finish()) return 1;
    NoteWriterFailure(*plan.writer, context);
    return 0;
}

}  // namespace pelloran
