#include "app/ConvertLoop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

// Float bit patterns may go from reader to writer only when nothing in the loop works on the samples.
bool LeavesSamplesAlone(const PcmFormat& source, const WriterPlan& plan, const ConvertContext& context) {
    return source.rate == plan.format.rate && source.channels == plan.format.channels && !plan.amplify &&
           !context.normalise && !context.tap && !context.measureOnly;
}

// The one block loop: reads the source to its end and hands every block to the writer, mixing channels and
// converting the rate when they differ, and changing width and gain in place. Blocks are read (or converted)
// straight into the room the writer lends when it lends one. 1 when the stream ended, 0 on Cancel or a
// failure.
int Pump(AudioDecoder& decoder, const PcmFormat& source, WriterPlan& plan, uint16_t formatCode,
         const std::string& sourcePath, ConvertContext& context) {
    const PcmFormat& target = plan.format;
    AudioWriter& writer = *plan.writer;
    const bool convert = source.rate != target.rate || source.channels != target.channels;
    if (source.isFloat != target.isFloat ||
        (target.isFloat && (source.bits != 32 || !LeavesSamplesAlone(source, plan, context))))
        return 0;
    PcmConverter converter;
    // Narrowing to 16 or 8 bits is dithered (Dither): by the converter after a resampler, else in place here.
    const bool dither = context.settings.Dither != 0 && source.bits > target.bits && target.bits <= 16;
    TpdfDither ditherState;
    converter.SetDither(dither);
    if (convert && !converter.Prepare(source, target, context.settings.MonoType)) return 0;
    // Where blocks go when the writer lends no room, and where the converter's input is read.
    const int ownFrames = std::max(kBlockFrames, kConvertedFrames);
    std::vector<int32_t> own[kMaxChannels];
    int32_t* ownPlanes[kMaxChannels] = {};
    for (int c = 0; c < std::max(source.channels, target.channels); ++c) {
        own[c].resize(static_cast<size_t>(ownFrames));
        ownPlanes[c] = own[c].data();
    }
    std::vector<int32_t> out[kMaxChannels];
    int32_t* outPlanes[kMaxChannels] = {};
    if (convert) {
        for (int c = 0; c < target.channels; ++c) {
            out[c].resize(static_cast<size_t>(kConvertedFrames));
            outPlanes[c] = out[c].data();
        }
    }

    FileProgress progress(decoder, context.progress, sourcePath);
    const bool stopAtLength = formatCode == kInputModule || formatCode == kInputMidi;

    // Normalisation holds back the limiter's look-ahead; the end of the stream hands it on.
    std::optional<Limiter> limiter;
    if (context.normalise) limiter.emplace(target.channels, target.rate, target.bits, *context.normalise);
    // Finishes frames of target channels at fromBits in place and hands them on.
    const auto deliver = [&](int32_t* const* planes, int frames, int fromBits, bool lent) {
        for (int c = 0; c < target.channels; ++c) {
            if (dither && fromBits > target.bits) NarrowWithDither(planes[c], frames, fromBits, target.bits, ditherState);
            else ChangeWidth(planes[c], planes[c], frames, fromBits, target.bits);
            if (plan.amplify) AmplifySamples(planes[c], frames, target.bits, plan.gain);
        }
        if (limiter) frames = limiter->Process(planes, frames);
        if (frames == 0) return true;
        if (context.tap) context.tap(planes, frames, target);
        if (context.measureOnly) return true;
        return lent ? writer.Commit(frames) : writer.Write(planes, frames);
    };
    // The room for up to `want` frames: lent by the writer when it can, else the fallback planes.
    AudioWriter::Room room;
    const auto roomFor = [&](int want, int32_t* const* fallback, int32_t* const*& planes, int& capacity) {
        if (!context.measureOnly && writer.Lend(room) && room.capacity >= want) {
            planes = room.planes;
            capacity = room.capacity;
            return true;
        }
        planes = fallback;
        capacity = want;
        return false;
    };
    // Hands on what the converter gives, whatever the rate ratio; false on a write failure or Cancel (one
    // source block can become many output blocks).
    const auto writeConverted = [&]() {
        for (int blocks = 0;; ++blocks) {
            if (blocks > 0 && !progress.Breathe()) return false;
            int32_t* const* planes = nullptr;
            int capacity = 0;
            const bool lent = roomFor(kConvertedFrames, outPlanes, planes, capacity);
            const int produced = converter.Pull(planes, std::min(capacity, kConvertedFrames * 4));
            if (produced <= 0) return true;
            if (!deliver(planes, produced, target.bits, lent)) return false;
        }
    };

    // A CUE track: the frames before its first are read and dropped (exact for every reader), reading stops
    // at its end.
    const uint64_t first = context.span != nullptr ? context.span->firstFrame : 0;
    const uint64_t end = context.span != nullptr && context.span->endFrame != 0 ? context.span->endFrame : UINT64_MAX;
    uint64_t position = 0;  // source frames read
    uint64_t framesRead = 0;
    bool atEnd = false;
    while (!atEnd) {
        int32_t* const* planes = ownPlanes;
        int capacity = kBlockFrames;
        const bool lent = !convert && roomFor(kBlockFrames, ownPlanes, planes, capacity);
        int frames = decoder.Read(planes);
        if (frames <= 0) break;
        if (frames > kBlockFrames) frames = kBlockFrames;
        const uint64_t at = position;
        position += static_cast<uint64_t>(frames);
        atEnd = position >= end;
        if (!progress.Step()) return 0;
        const int from = static_cast<int>(std::min<uint64_t>(first > at ? first - at : 0, static_cast<uint64_t>(frames)));
        const int to = static_cast<int>(std::min<uint64_t>(end - at, static_cast<uint64_t>(frames)));
        if (to <= from) continue;
        if (from > 0) {
            for (int c = 0; c < source.channels; ++c) std::memmove(planes[c], planes[c] + from, sizeof(int32_t) * static_cast<size_t>(to - from));
        }
        frames = to - from;
        framesRead += static_cast<uint64_t>(frames);
        if (!convert) {
            if (!deliver(planes, frames, source.bits, lent)) return 0;
        } else {
            converter.Push(planes, frames);
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
    while (limiter) {
        const int frames = limiter->Flush(ownPlanes, ownFrames);
        if (frames == 0) break;
        if (context.tap) context.tap(ownPlanes, frames, target);
        if (!context.measureOnly && !writer.Write(ownPlanes, frames)) return 0;
    }
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

    const PcmFormat sourceFormat = decoder->Format();
    // DSD is planned as the music it holds: 176.4 kHz at 24 bits for lossless outputs, 88.2 kHz for the others
    // (a rate the options set still wins); the converter brings the decoder's rate down.
    PcmFormat planned = sourceFormat;
    if (decoder->IsDsd()) planned = {recipe->lossless ? 176400 : 88200, sourceFormat.channels, recipe->lossless ? 24 : 16};
    WriterPlan plan;
    const PlanInput input{settings, *decoder, planned, formatCode, source, context.runPosition, context.tags};
    bool ready = sourceFormat.Valid() && recipe->plan(input, plan) && plan.writer && plan.format.Valid();
    if (ready) {
        const DroppedTags dropped = TagsLeftBehind(settings, plan.tags, *decoder, source, context.tags);
        context.report.tagsDropped = dropped.names;
        context.report.largePictures = dropped.largePictures;
        context.report.sourceRate = sourceFormat.rate;
        context.report.refusedRate = plan.refusedRate;
        context.report.plannedRate = plan.format.rate;
    }
    // A float plan holds only when nothing in the loop works on the samples and the reader agrees; else the
    // samples arrive as 32-bit integers.
    PcmFormat readFormat = sourceFormat;
    if (ready && plan.format.isFloat) {
        if (LeavesSamplesAlone(sourceFormat, plan, context) && decoder->KeepFloat()) readFormat = decoder->Format();
        plan.format.isFloat = readFormat.isFloat;
    }
    if (ready && context.measureOnly) {
        const int pumped = Pump(*decoder, readFormat, plan, formatCode, source, context);
        decoder->Close();
        return pumped;
    }
    // Encoding runs beside the decoding.
    if (ready) plan.writer = std::make_unique<BackgroundWriter>(std::move(plan.writer));
    if (!ready || !plan.writer->Open(target, plan.format, plan.tags)) {
        if (ready) NoteWriterFailure(*plan.writer, context);
        decoder->Close();
        return 0;
    }
    const int pumped = Pump(*decoder, readFormat, plan, formatCode, source, context);
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
