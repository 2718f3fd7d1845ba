#pragma once
// AAC low-complexity encoding on libavcodec's native encoder: frames of 1024 samples per channel in, raw
// frames (for MPEG-4 files) or ADTS frames (for .aac files) out. The layer writes the ADTS headers itself.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pelloran {

struct AacEncoderSettings {
    bool adts = true;     // a 7-byte ADTS header before every frame
    bool mpeg2 = false;   // the ID bit of the ADTS header (MPEG-2 or MPEG-4); the bitstream is the same
    bool tns = false;     // temporal noise shaping
    bool midside = true;  // false turns mid/side coding off; true lets the encoder decide per band
    int bitRate = 0;      // bits per second for all channels; 0 selects the quality mode
    int quality = 100;    // quality mode, 10..500 (clamped); 100 gives the encoder's own default quality
};

// The encoder's quality scale (its global quality over the lambda unit) for a stored quality of 10..500.
// The encoder's bit rate grows with its scale from 0.1 up to about 1.8; just above, it falls back by a sixth
// and beyond that it wanders. So 10..100 maps to 0.1..1 (100 the encoder's default) and 100..500 to 1..1.8,
// in straight lines. Bit rates measured in M4A files of 44.1 kHz stereo music-like material (plucked chords
// over soft noise):
//   stored   10   50   100   200   300   400   500
//   scale  0.10 0.50  1.00  1.20  1.40  1.60  1.80
//   kbit/s   23   71   123   164   197   218   242
double AacQualityScale(int quality);

// The most channels an AAC stream of ours holds (5.1).
inline constexpr int kMaxAacChannels = 6;

class AacEncoder {
public:
    static constexpr int kFrameLength = 1024;  // samples per channel in one frame
    // Channel counts taken: 1, 2, 3, 5 and 6.

    AacEncoder();
    ~AacEncoder();
    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    // False when AAC has no sampling-frequency index for rate, channels is not 1 or 2, or the encoder refuses
    // the settings.
    bool Open(int rate, int channels, const AacEncoderSettings& settings);
    void Close();
    bool IsOpen() const;
    int Channels() const;
    // The most bytes one frame can take, header included. The encoder may exceed AAC's 768 bytes per channel.
    size_t MaxFrameBytes() const;
    // The stream's AudioSpecificConfig (for MPEG-4 files); empty when not open.
    const std::vector<uint8_t>& DecoderConfig() const;

    // Encodes up to kFrameLength frames of interleaved 16-bit samples (fewer only in the last call with
    // audio); 0 frames drains the encoder. out receives one encoded frame, or nothing while the encoder's
    // delay lasts and once it is drained. False on an error, or when more than one frame is passed.
    bool Encode(const int16_t* samples, int frames, std::vector<uint8_t>& out);

private:
    struct State;
    std::unique_ptr<State> s_;
};

// The 7-byte ADTS header of a low-complexity frame of payloadBytes; false when the frame is too long, the
// rate has no sampling-frequency index or channels is not 1..7.
bool BuildAdtsHeader(uint8_t header[7], bool mpeg2, int rate, int channels, size_t payloadBytes);

// Sampling-frequency index of an AAC rate, -1 when AAC has none for it.
int AacRateIndex(int rate);

}  // namespace pelloran
