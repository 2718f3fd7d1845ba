#include "encode/AacWriter.h"

#include <algorithm>
#include <cstdlib>

namespace pelloran {

int NearestAacRate(int rate) {
    static constexpr int kRates[] = {7350, 8000, 11025, 12000, 16000, 22050, 24000,
                                     32000, 44100, 48000, 64000, 88200, 96000};
    int best = kRates[0];
    for (int r : kRates) {
        const long long d = std::llabs(static_cast<long long>(r) - rate);
        const long long bestD = std::llabs(static_cast<long long>(best) - rate);
        if (d <= bestD) best = r;
    }
    return best;
}

AacEncoderSettings AacSettings(const AacOptions& options, bool adts) {
    AacEncoderSettings settings;
    settings.adts = adts;
    settings.mpeg2 = adts && options.mpeg2;
    settings.tns = options.tns;
    settings.midside = options.midside;
    settings.bitRate = options.abrKbps > 0 ? options.abrKbps * 1000 : 0;
    settings.quality = options.quality;
    return settings;
}

bool AacFrameStream::Open(int rate, int channels, const AacEncoderSettings& settings, Sink sink) {
    Close();
    if (!encoder_.Open(rate, channels, settings)) return false;
    sink_ = std::move(sink);
    samples_.assign(static_cast<size_t>(AacEncoder::kFrameLength * channels), 0);
    frame_.reserve(encoder_.MaxFrameBytes());
    return true;
}

void AacFrameStream::Close() {
    encoder_.Close();
    sink_ = nullptr;
    samples_.clear();
    fill_ = 0;
}

bool AacFrameStream::EncodeBuffer() {
    const int passed = fill_;
    fill_ = 0;
    return encoder_.Encode(samples_.data(), passed, frame_) && sink_(passed, frame_);
}

bool AacFrameStream::Write(const int32_t* const* planes, int frames, int bits) {
    const int channels = encoder_.Channels();
    if (channels == 0 || frames < 0 || planes == nullptr) return false;
    const auto n = static_cast<size_t>(channels);
    for (int i = 0; i < frames;) {
        const int count = std::min(frames - i, AacEncoder::kFrameLength - fill_);
        for (size_t c = 0; c < n; ++c) {
            const int32_t* in = planes[c] + i;
            int16_t* out = samples_.data() + static_cast<size_t>(fill_) * n + c;
            for (int k = 0; k < count; ++k, out += n)
                *out = bits < 16 ? static_cast<int16_t>(static_cast<uint32_t>(in[k]) << (16 - bits))
                                 : static_cast<int16_t>(in[k] >> (bits - 16));
        }
        fill_ += count;
        i += count;
        if (fill_ < AacEncoder::kFrameLength) break;  // waits for the next block
        if (!EncodeBuffer()) return false;
    }
    return true;
}

bool AacFrameStream::Drain() {
    if (encoder_.Channels() == 0) return false;
    // The call with the buffered rest may return nothing (a stream shorter than the encoder's delay), so
    // draining goes on with empty calls until one of them returns nothing.
    if (!EncodeBuffer()) return false;
    for (int guard = 0; guard < 64; ++guard) {
        if (!encoder_.Encode(nullptr, 0, frame_) || !sink_(0, frame_)) return false;
        if (frame_.empty()) return true;
    }
    return false;
}

AacWriter::AacWriter(AacOptions options) : options_(options) {}

bool AacWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord&) {
    const auto sink = [this](int, const std::vector<uint8_t>& frame) {
        return Io(file_.Write(frame.data(), frame.size()));
    };
    return stream_.Open(format.rate, format.channels, AacSettings(options_, true), sink) && Io(file_.Open(path, "wb"));
}

bool AacWriter::Put(const int32_t* const* planes, int frames) {
    return stream_.Write(planes, frames, Format().bits);
}

bool AacWriter::End() {
    // ADTS frames are all a file holds: none is no file.
    const uint64_t frames = FramesWritten();
    if (frames == 0) return Fail(WriterError::NoAudio);
    // FFmpeg's probe knows ADTS from three frames on, and takes two for other things; the encoder makes three
    // from more than one frame's samples (its delay is one frame). ADTS keeps no length: silence pads a shorter
    // stream.
    if (frames <= static_cast<uint64_t>(AacEncoder::kFrameLength)) {
        const int pad = AacEncoder::kFrameLength + 1 - static_cast<int>(frames);
        const std::vector<int32_t> silence(static_cast<size_t>(pad), 0);
        const int32_t* planes[kMaxChannels] = {};
        for (int c = 0; c < Format().channels; ++c) planes[c] = silence.data();
        if (!stream_.Write(planes, pad, 16)) return false;
    }
    const bool ok = stream_.Drain();
    return Io(file_.Close()) && ok;
}

void AacWriter::Release() {
    file_.Close();
    stream_.Close();
}

}  // namespace pelloran
