#include "app/Verify.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "app/ConvertLoop.h"
#include "decode/AudioDecoder.h"
#include "platform/File.h"
#include "platform/Id3v2Header.h"

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

uint64_t Scaled(uint64_t frames, int from, int to) {
    if (from == to || from <= 0) return frames;
    return static_cast<uint64_t>((static_cast<unsigned __int128>(frames) * static_cast<unsigned>(to) +
                                  static_cast<unsigned>(from) / 2) /
                                 static_cast<unsigned>(from));
}

// The frames LAME writes for e frames of input without its tag: its delay of 576, then the flush pads to the
// frame grid, a whole frame more when less than 576 would remain.
uint64_t LameFrames(uint64_t e, int outputRate) {
    const uint64_t frame = outputRate >= 32000 ? 1152 : 576;  // MPEG-1, else MPEG-2 and 2.5
    const uint64_t delayed = e + 576;
    uint64_t padding = frame - delayed % frame;
    if (padding < 576) padding += frame;
    return delayed + padding;
}

}  // namespace

FrameSpan AllowedFrames(int32_t outputFormat, uint64_t expected, int outputRate, bool mp3InfoTag, bool resampled) {
    uint64_t below = 0, above = 0;
    switch (outputFormat) {
        case kOutputMp3:
            if (mp3InfoTag) break;
            // One length for each source length; a resampled one may be two frames off either way.
            if (!resampled) return {LameFrames(expected, outputRate), LameFrames(expected, outputRate)};
            return {LameFrames(expected > 2 ? expected - 2 : 0, outputRate), LameFrames(expected + 2, outputRate)};
        case kOutputAac:
            expected += 1024;
            above = 1023;
            break;
        case kOutputAmr:
        case kOutputAwb: above = outputRate > 8000 ? 319 : 159; break;
        case kOutputWma: above = 2047; break;
        default: break;
    }
    if (resampled) {
        below += 2;
        above += 2;
    }
    return {expected > below ? expected - below : 0, expected + above};
}

bool HasLameInfoTag(const std::string& path) {
    File file;
    if (!file.Open(path, "rb")) return false;
    int64_t offset = 0;
    uint8_t header[kId3v2HeaderBytes];
    for (int tags = 0; tags < 8 && file.ReadExactAt(offset, header, sizeof header); ++tags) {
        const std::optional<Id3v2Header> tag = ParseId3v2Header(header, sizeof header);
        if (!tag) break;
        offset += static_cast<int64_t>(tag->totalSize());
    }
    std::vector<uint8_t> bytes(4096);
    const int64_t got = file.ReadAt(offset, bytes.data(), bytes.size());
    if (got < 64) return false;
    bytes.resize(static_cast<size_t>(got));
    size_t sync = 0;
    while (sync + 1 < bytes.size() && !(bytes[sync] == 0xFF && (bytes[sync + 1] & 0xE0) == 0xE0)) ++sync;
    const auto find = [&bytes](const char* word, size_t from, size_t within) -> size_t {
        const size_t end = std::min(bytes.size(), from + within);
        for (size_t i = from; i + 4 <= end; ++i) {
            if (std::memcmp(&bytes[i], word, 4) == 0) return i;
        }
        return std::string::npos;
    };
    size_t info = find("Info", sync, 64);
    if (info == std::string::npos) info = find("Xing", sync, 64);
    if (info == std::string::npos) return false;
    size_t lame = find("LAME", info, 200);
    if (lame == std::string::npos) lame = find("Lavc", info, 200);
    if (lame == std::string::npos || lame + 24 > bytes.size()) return false;
    // Twelve bits of delay and twelve of padding, 21 bytes into the encoder's tag.
    const uint32_t both = (bytes[lame + 21] << 16) | (bytes[lame + 22] << 8) | bytes[lame + 23];
    return both != 0;
}

VerifyOutcome VerifyConversion(const ConvertSettings& settings, uint16_t formatCode, const std::string& source,
                               const std::string& output, std::optional<ReaderKind> preferred,
                               const std::function<bool()>& cancelled) {
    VerifyOutcome outcome;
    const OutputRecipe* recipe = RecipeForFormat(settings.OutputFormat);
    DecoderContext sourceContext;
    sourceContext.preferred = preferred;
    sourceContext.cancelled = cancelled;
    std::unique_ptr<AudioDecoder> sourceDecoder =
        CreateDecoder(source, formatCode, recipe != nullptr ? recipe->rateHint(settings) : 0, true, sourceContext);
    if (!sourceDecoder) {
        outcome.reason = "the source could not be read again";
        return outcome;
    }
    DecoderContext outputContext;
    outputContext.cancelled = cancelled;
    std::unique_ptr<AudioDecoder> outputDecoder =
        CreateDecoder(output, InputFormatFromPath(output), 0, true, outputContext);
    if (!outputDecoder) {
        sourceDecoder->Close();
        outcome.reason = "the output could not be read";
        return outcome;
    }
    FrameStream in(std::move(sourceDecoder), StopsAtLength(formatCode));
    FrameStream out(std::move(outputDecoder), false);
    const int inRate = in.Decoder().GetSampleRate();
    const int outRate = out.Decoder().GetSampleRate();

    // WAV in the source's own format and without gain: every sample must be the source's, at full width when
    // both readers give it.
    const bool gain = settings.AmplifyWav != 0 && settings.AmplifyWavCoeff != 100;
    if (settings.OutputFormat == kOutputWav && !gain) {
        const PcmFormat a = in.Decoder().WideFormat();
        const PcmFormat b = out.Decoder().WideFormat();
        // A reader that cannot follow leaves the formats unequal: then the lengths alone are compared.
        if (a.rate > 0 && a == b && in.SwitchToWide()) out.SwitchToWide();
    }
    const bool sameFormat = inRate == outRate && in.FrameBytes() == out.FrameBytes() &&
                            in.Decoder().GetBitsPerSample() == out.Decoder().GetBitsPerSample();
    std::string differs;
    if (settings.OutputFormat == kOutputWav && sameFormat && !gain) {
        std::vector<uint8_t> a(in.FrameBytes()), b(out.FrameBytes());
        for (uint64_t frame = 0;; ++frame) {
            if ((frame & 0xFFFF) == 0 && cancelled && cancelled()) {
                outcome.reason = "cancelled";
                return outcome;
            }
            const bool moreIn = in.NextFrame(a.data());
            const bool moreOut = out.NextFrame(b.data());
            if (moreIn != moreOut) break;  // the counts below tell
            if (!moreIn) break;
            if (a != b) {
                differs = "sample " + std::to_string(frame) + " differs from the source's";
                break;
            }
        }
    }
    if (!Drain(in, cancelled) || !Drain(out, cancelled)) {
        outcome.reason = "cancelled";
        return outcome;
    }
    outcome.sourceFrames = in.Count();
    outcome.outputFrames = out.Count();
    if (!differs.empty()) {
        outcome.reason = differs;
        return outcome;
    }
    const uint64_t expected = Scaled(outcome.sourceFrames, inRate, outRate);
    const bool infoTag = settings.OutputFormat == kOutputMp3 && HasLameInfoTag(output);
    const FrameSpan span = AllowedFrames(settings.OutputFormat, expected, outRate, infoTag, inRate != outRate);
    if (outcome.outputFrames < span.min || outcome.outputFrames > span.max) {
        outcome.reason = "the output decodes to " + std::to_string(outcome.outputFrames) + " frames, " +
                         (span.min == span.max ? std::to_string(span.min)
                                               : std::to_string(span.min) + " to " + std::to_string(span.max)) +
                         " expected";
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace pelloran
