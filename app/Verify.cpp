#include "app/Verify.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "formats/OutputFormat.h"
#include "decode/AudioDecoder.h"

namespace pelloran {

namespace {

// A reader delivering its blocks one frame at a time.
class FrameStream {
public:
    // span: only that track's frames of the stream are delivered.
    FrameStream(std::unique_ptr<AudioDecoder> decoder, bool stopAtLength, const CueSpan* span = nullptr)
        : decoder_(std::move(decoder)), stopAtLength_(stopAtLength), format_(decoder_->Format()) {
        if (span != nullptr) {
            first_ = span->firstFrame;
            if (span->endFrame != 0) end_ = span->endFrame;
        }
        const int channels = std::clamp(format_.channels, 1, kMaxChannels);
        planes_.assign(static_cast<size_t>(channels), std::vector<int32_t>(kBlockFrames));
        for (int c = 0; c < channels; ++c) planePointers_[c] = planes_[c].data();
    }
    ~FrameStream() { decoder_->Close(); }

    AudioDecoder& Decoder() { return *decoder_; }
    const PcmFormat& Format() const { return format_; }
    uint64_t Count() const { return count_; }

    // The next block; false at the end.
    bool NextBlock() {
        while (!ended_) {
            int frames = decoder_->Read(planePointers_);
            if (frames <= 0) {
                ended_ = true;
                return false;
            }
            frames = std::min(frames, kBlockFrames);
            // Module and MIDI readers stop where their length says, as the conversion did.
            if (stopAtLength_ && decoder_->GetPosition() >= decoder_->GetLength()) ended_ = true;
            const uint64_t at = position_;
            position_ += static_cast<uint64_t>(frames);
            if (position_ >= end_) ended_ = true;
            const uint64_t from = std::min<uint64_t>(first_ > at ? first_ - at : 0, static_cast<uint64_t>(frames));
            const uint64_t to = std::min<uint64_t>(end_ - at, static_cast<uint64_t>(frames));
            if (to <= from) continue;
            at_ = static_cast<int>(from);
            frames_ = static_cast<int>(to);
            count_ += to - from;
            return true;
        }
        return false;
    }
    // The samples of the next frame, one per channel, or false at the end.
    bool NextFrame(std::vector<int32_t>& frame) {
        if (at_ >= frames_ && !NextBlock()) return false;
        frame.resize(planes_.size());
        for (size_t c = 0; c < planes_.size(); ++c) frame[c] = planes_[c][static_cast<size_t>(at_)];
        ++at_;
        return true;
    }

private:
    std::unique_ptr<AudioDecoder> decoder_;
    bool stopAtLength_;
    PcmFormat format_;
    std::vector<std::vector<int32_t>> planes_;
    int32_t* planePointers_[kMaxChannels] = {};
    int frames_ = 0;  // the block's end
    int at_ = 0;      // the next frame of the block
    uint64_t count_ = 0;
    uint64_t first_ = 0;  // the window of the stream delivered
    uint64_t end_ = UINT64_MAX;
    uint64_t position_ = 0;  // frames read
    bool ended_ = false;
};

bool StopsAtLength(uint16_t formatCode) { return formatCode == kInputModule || formatCode == kInputMidi; }

// Reads to the end; false on Cancel.
bool Drain(FrameStream& stream, const std::function<bool()>& cancelled) {
    for (int blocks = 0; stream.NextBlock(); ++blocks) {
        if ((blocks & 63) == 0 && cancelled && cancelled()) return false;
    }
    return true;
}

Note Problem(VerifyProblem problem, std::vector<uint64_t> numbers = {}) {
    numbers.insert(numbers.begin(), static_cast<uint64_t>(problem));
    return ValuesNote(NoteCode::VerifyFailed, std::move(numbers));
}

// The first frame that differs (SampleDiffers), Cancelled, or no note when none differs.
Note FirstDifference(FrameStream& in, FrameStream& out, const std::function<bool()>& cancelled) {
    std::vector<int32_t> a, b;
    for (uint64_t frame = 0;; ++frame) {
        if ((frame & 0xFFFF) == 0 && cancelled && cancelled()) return Problem(VerifyProblem::Cancelled);
        const bool moreIn = in.NextFrame(a);
        const bool moreOut = out.NextFrame(b);
        if (moreIn != moreOut || !moreIn) return {};  // the counts tell
        if (a != b) return Problem(VerifyProblem::SampleDiffers, {frame});
    }
}

uint64_t Scaled(uint64_t frames, int from, int to) {
    if (from == to || from <= 0) return frames;
    return static_cast<uint64_t>((static_cast<unsigned __int128>(frames) * static_cast<unsigned>(to) +
                                  static_cast<unsigned>(from) / 2) /
                                 static_cast<unsigned>(from));
}

}  // namespace

FrameSpan AllowedFrames(int32_t outputFormat, uint64_t expected, int outputRate, bool encoderTag, bool resampled) {
    const LengthFacts facts{expected, outputRate, resampled, encoderTag};
    const OutputFormatDescriptor* format = FindOutputFormat(outputFormat);
    return format != nullptr && format->length != nullptr ? format->length(facts) : Around(facts, 0);
}

VerifyOutcome VerifyConversion(const ConvertSettings& settings, uint16_t formatCode, const std::string& source,
                               const std::string& output, std::optional<ReaderKind> preferred,
                               const std::function<bool()>& cancelled, const ConversionReport* report,
                               const CueSpan* span) {
    VerifyOutcome outcome;
    const OutputFormatDescriptor* format = FindOutputFormat(settings.OutputFormat);
    const bool exact = format != nullptr && format->exactSamples != nullptr && format->exactSamples(settings);
    // The source is decoded again only where its samples are compared, or when no report says its length.
    std::unique_ptr<FrameStream> in;
    if (exact || report == nullptr || report->sourceRate <= 0) {
        DecoderContext sourceContext;
        sourceContext.preferred = preferred;
        sourceContext.cancelled = cancelled;
        std::unique_ptr<AudioDecoder> sourceDecoder = CreateDecoder(
            source, formatCode, format != nullptr && format->rateHint != nullptr ? format->rateHint(settings) : 0,
            true, sourceContext);
        if (!sourceDecoder) {
            outcome.note = Problem(VerifyProblem::SourceUnreadable);
            return outcome;
        }
        in = std::make_unique<FrameStream>(std::move(sourceDecoder), StopsAtLength(formatCode), span);
    }
    DecoderContext outputContext;
    outputContext.cancelled = cancelled;
    std::unique_ptr<AudioDecoder> outputDecoder =
        CreateDecoder(output, format != nullptr && format->readAs != 0 ? format->readAs : InputFormatFromPath(output), 0,
                      true, outputContext);
    if (!outputDecoder) {
        outcome.note = Problem(VerifyProblem::OutputUnreadable);
        return outcome;
    }
    FrameStream out(std::move(outputDecoder), false);
    const int inRate = in ? in->Decoder().GetSampleRate() : report->sourceRate;
    const int outRate = out.Decoder().GetSampleRate();
    Note differs;
    if (in && exact) {
        // In the source's own format every sample must be the source's; in another one the lengths alone are
        // compared.
        if (in->Format() == out.Format()) differs = FirstDifference(*in, out, cancelled);
        if (!differs.empty() && differs.values[0] == static_cast<uint64_t>(VerifyProblem::Cancelled)) {
            outcome.note = differs;
            return outcome;
        }
    }
    if ((in && !Drain(*in, cancelled)) || !Drain(out, cancelled)) {
        outcome.note = Problem(VerifyProblem::Cancelled);
        return outcome;
    }
    outcome.sourceFrames = in ? in->Count() : report->framesRead;
    outcome.outputFrames = out.Count();
    if (!differs.empty()) {
        outcome.note = differs;
        return outcome;
    }
    const uint64_t expected = Scaled(outcome.sourceFrames, inRate, outRate);
    const bool encoderTag = format != nullptr && format->encoderTag != nullptr && format->encoderTag(output);
    const FrameSpan allowed = AllowedFrames(settings.OutputFormat, expected, outRate, encoderTag, inRate != outRate);
    if (outcome.outputFrames < allowed.min || outcome.outputFrames > allowed.max) {
        outcome.note = Problem(VerifyProblem::Length, {outcome.outputFrames, allowed.min, allowed.max});
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace pelloran
