#include "app/Verify.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/OutputFormat.h"
#include "decode/AudioDecoder.h"

namespace pelloran {

namespace {

// A reader delivering its blocks one frame at a time.
class FrameStream {
public:
    FrameStream(std::unique_ptr<AudioDecoder> decoder, bool stopAtLength)
        : decoder_(std::move(decoder)), stopAtLength_(stopAtLength) {
        bytes_ = decoder_->GetBitsPerSample() == 8 ? 1 : 2;
        stereo_ = decoder_->GetOutputChannels() == 2;
        left_.resize(static_cast<size_t>(kBlockFrames) * bytes_);
        right_.resize(stereo_ ? left_.size() : 0);
    }
    ~FrameStream() { decoder_->Close(); }

    AudioDecoder& Decoder() { return *decoder_; }
    uint64_t Count() const { return count_; }

    // Every channel at the source's own width from here on (before the first block); false when the reader
    // cannot.
    bool SwitchToWide() {
        const PcmFormat wide = decoder_->WideFormat();
        if (wide.rate <= 0 || wide.channels < 1 || wide.channels > kMaxWideChannels || !decoder_->UseWide())
            return false;
        wideChannels_ = wide.channels;
        bytes_ = sizeof(int32_t);
        planes_.assign(static_cast<size_t>(wideChannels_), std::vector<int32_t>(kBlockFrames));
        for (int c = 0; c < wideChannels_; ++c) planePointers_[c] = planes_[c].data();
        return true;
    }

    // The next block; false at the end.
    bool NextBlock() {
        if (ended_) return false;
        int frames = wideChannels_ > 0 ? decoder_->ReadWide(planePointers_)
                                       : decoder_->Read(left_.data(), stereo_ ? right_.data() : nullptr);
        if (frames <= 0) {
            ended_ = true;
            return false;
        }
        frames = std::min(frames, kBlockFrames);
        // Module and MIDI readers stop where their length says, as the conversion did.
        if (stopAtLength_ && decoder_->GetPosition() >= decoder_->GetLength()) ended_ = true;
        frames_ = frames;
        at_ = 0;
        count_ += static_cast<uint64_t>(frames);
        return true;
    }
    // The bytes of the next frame (left, then right), or false at the end.
    bool NextFrame(uint8_t* frame) {
        if (at_ >= frames_ && !NextBlock()) return false;
        if (wideChannels_ > 0) {
            for (int c = 0; c < wideChannels_; ++c) std::memcpy(frame + c * sizeof(int32_t), &planes_[c][at_], sizeof(int32_t));
            ++at_;
            return true;
        }
        const size_t offset = static_cast<size_t>(at_) * bytes_;
        std::memcpy(frame, left_.data() + offset, bytes_);
        if (stereo_) std::memcpy(frame + bytes_, right_.data() + offset, bytes_);
        ++at_;
        return true;
    }
    size_t FrameBytes() const { return wideChannels_ > 0 ? bytes_ * wideChannels_ : bytes_ * (stereo_ ? 2 : 1); }

private:
    std::unique_ptr<AudioDecoder> decoder_;
    bool stopAtLength_;
    size_t bytes_ = 2;
    bool stereo_ = false;
    std::vector<uint8_t> left_, right_;
    int wideChannels_ = 0;  // 0: the narrow path
    std::vector<std::vector<int32_t>> planes_;
    int32_t* planePointers_[kMaxWideChannels] = {};
    int frames_ = 0;
    int at_ = 0;
    uint64_t count_ = 0;
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
    std::vector<uint8_t> a(in.FrameBytes()), b(out.FrameBytes());
    for (uint64_t frame = 0;; ++frame) {
        if ((frame & 0xFFFF) == 0 && cancelled && cancelled()) return Problem(VerifyProblem::Cancelled);
        const bool moreIn = in.NextFrame(a.data());
        const bool moreOut = out.NextFrame(b.data());
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
                               const std::function<bool()>& cancelled, const ConversionReport* report) {
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
        in = std::make_unique<FrameStream>(std::move(sourceDecoder), StopsAtLength(formatCode));
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
        // In the source's own format every sample must be the source's, at full width when both readers give it.
        const PcmFormat a = in->Decoder().WideFormat();
        const PcmFormat b = out.Decoder().WideFormat();
        // A reader that cannot follow leaves the formats unequal: then the lengths alone are compared.
        if (a.rate > 0 && a == b && in->SwitchToWide()) out.SwitchToWide();
        const bool sameFormat = inRate == outRate && in->FrameBytes() == out.FrameBytes() &&
                                in->Decoder().GetBitsPerSample() == out.Decoder().GetBitsPerSample();
        if (sameFormat) differs = FirstDifference(*in, out, cancelled);
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
    const FrameSpan span = AllowedFrames(settings.OutputFormat, expected, outRate, encoderTag, inRate != outRate);
    if (outcome.outputFrames < span.min || outcome.outputFrames > span.max) {
        outcome.note = Problem(VerifyProblem::Length, {outcome.outputFrames, span.min, span.max});
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace pelloran
