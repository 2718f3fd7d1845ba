#pragma once
// Stand-in for the FAAC encoder library: the faacEnc* calls and FAAC's configuration record, built on
// libavcodec's native AAC encoder. The layer writes the ADTS headers itself.
//
// How the configuration fields reach the encoder:
//   mpegVersion    the ID bit of the ADTS header (MPEG4 or MPEG2); the bitstream is the same
//   aacObjectType  only LOW is accepted (as in current FAAC releases)
//   allowMidside   0 turns mid/side coding off; 1 lets the encoder decide per band
//   useTns         temporal noise shaping on/off
//   bitRate        per channel; 0 selects the quality mode driven by quantqual
//   bandWidth      the encoder's cutoff frequency; 0 lets the encoder choose
//   quantqual      10..500 (clamped, as FAAC does), 100 being FAAC's default; mapped linearly onto the
//                  encoder's quality scale, where 100 gives the encoder's own default quality
//   outputFormat   0 raw frames, 1 ADTS frames
//   inputFormat    FAAC_INPUT_16BIT or FAAC_INPUT_FLOAT (floats in the 16-bit range, as FAAC takes them)
//   shortctl       kept but not honoured: the encoder has no control over its block switching

#include <cstdint>
#include <memory>
#include <vector>

namespace pelloran {

enum : unsigned { MPEG4 = 0, MPEG2 = 1 };
enum : unsigned { MAIN = 1, LOW = 2, SSR = 3, LTP = 4 };
enum : unsigned { RAW_STREAM = 0, ADTS_STREAM = 1 };
enum : unsigned { FAAC_INPUT_NULL = 0, FAAC_INPUT_16BIT = 1, FAAC_INPUT_24BIT = 2, FAAC_INPUT_32BIT = 3,
                  FAAC_INPUT_FLOAT = 4 };
enum : int { SHORTCTL_NORMAL = 0, SHORTCTL_NOSHORT = 1, SHORTCTL_NOLONG = 2 };

struct faacEncConfiguration {
    unsigned mpegVersion = MPEG4;
    unsigned aacObjectType = LOW;
    unsigned allowMidside = 1;
    unsigned useTns = 0;
    unsigned long bitRate = 0;  // bits per second per channel
    unsigned bandWidth = 0;     // Hz
    unsigned long quantqual = 100;
    unsigned outputFormat = ADTS_STREAM;
    unsigned inputFormat = FAAC_INPUT_16BIT;
    int shortctl = SHORTCTL_NORMAL;
};

class FaacEncoder;
using faacEncHandle = FaacEncoder*;

// Opens an encoder for rate and channels (1..2). inputSamples: samples of all channels that one
// faacEncEncode call takes (1024 per channel); maxOutputBytes: the most one call returns (the encoder's
// bound, larger than FAAC's, as the encoder may exceed AAC's 768 bytes per channel). Null when the rate or
// channel count is out of range.
faacEncHandle faacEncOpen(unsigned long sampleRate, unsigned numChannels, unsigned long* inputSamples,
                          unsigned long* maxOutputBytes);
faacEncConfiguration* faacEncGetCurrentConfiguration(faacEncHandle encoder);
// Applies the configuration and starts the encoder; 1 on success, 0 when it is refused (also once
// encoding has begun).
int faacEncSetConfiguration(faacEncHandle encoder, faacEncConfiguration* config);
// Encodes samplesInput interleaved samples (at most inputSamples; fewer only for the last call with
// audio); 0 samples drains the encoder. Returns the bytes of one frame written to outputBuffer, 0 when no
// frame is ready (the encoder's delay, or drained), -1 on an error.
int faacEncEncode(faacEncHandle encoder, const void* inputBuffer, unsigned samplesInput, unsigned char* outputBuffer,
                  unsigned bufferSize);
// The AudioSpecificConfig of the stream (for MP4 files); false before faacEncSetConfiguration.
bool faacEncGetDecoderSpecificInfo(faacEncHandle encoder, std::vector<uint8_t>& info);
int faacEncClose(faacEncHandle encoder);

struct FaacEncoderCloser {
    void operator()(FaacEncoder* encoder) const { faacEncClose(encoder); }
};
using FaacEncoderPtr = std::unique_ptr<FaacEncoder, FaacEncoderCloser>;

// The 7-byte ADTS header of an AAC frame of payloadBytes; false when the frame is too long or the rate has
// no sampling-frequency index.
bool BuildAdtsHeader(uint8_t header[7], unsigned mpegVersion, unsigned objectType, unsigned long sampleRate,
                     unsigned channels, size_t payloadBytes);

// Sampling-frequency index of an AAC rate, -1 when AAC has none for it.
int AacRateIndex(unsigned long sampleRate);

}  // namespace pelloran
