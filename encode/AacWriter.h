#pragma once
// AAC output: the FAAC frame buffering shared with the MP4 writer, and the writer of raw ADTS files.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/faac.h"

namespace pelloran {

// The user's encoder options of the AAC and MP4 pages applied to a FAAC configuration: with vbr the
// quality (only when it lies in 10..500; otherwise the default stays), else the average bit rate in
// kbit/s turned into FAAC's per-channel bit rate.
void ApplyFaacOptions(faacEncConfiguration& config, int vbr, int quality, int abrKbps, int tns, int midside,
                      int blockType, int channels);

// The AAC sampling rate nearest to rate (the higher one on a tie).
int NearestAacRate(int rate);

// Collects planar blocks of any length into interleaved encoder frames, so that every encoder call gets
// exactly inputSamples samples until the end of the stream.
class FaacStream {
public:
    virtual ~FaacStream() = default;
    FaacStream() = default;
    FaacStream(const FaacStream&) = delete;
    FaacStream& operator=(const FaacStream&) = delete;

    // The encoder's configuration; the loop may change it between Open and Start. Null when not open.
    faacEncConfiguration* Config() { return config_; }
    unsigned long InputSamples() const { return inputSamples_; }
    unsigned long MaxOutputBytes() const { return maxOutputBytes_; }

    // One block of 16-bit (or 8-bit unsigned, widened) samples; false when the encoder or the output failed.
    bool Encode16(const int16_t* left, const int16_t* right, int frames);
    bool Encode8(const uint8_t* left, const uint8_t* right, int frames);

protected:
    // Opens the encoder with the base configuration (low complexity, MPEG-4, no TNS, mid/side allowed,
    // the encoder's bandwidth, 16-bit input) and the given output format.
    bool OpenEncoder(int rate, int channels, unsigned outputFormat);
    // Applies the configuration and allocates the buffers.
    bool StartEncoder();
    // Passes what is still buffered and drains the encoder.
    bool DrainEncoder();
    void CloseEncoder();
    bool EncoderStarted() const { return started_; }
    int StreamChannels() const { return channels_; }
    faacEncHandle Encoder() const { return encoder_.get(); }

    // Receives the result of every encoder call: the samples passed in (0 while draining) and the bytes
    // it returned (possibly 0). False stops the stream as failed.
    virtual bool Consume(unsigned samplesPassed, const uint8_t* data, int bytes) = 0;

private:
    template <typename Sample, typename Widen>
    bool Buffer(const Sample* left, const Sample* right, int frames, Widen widen);
    bool EncodeBuffer();

    FaacEncoderPtr encoder_;
    faacEncConfiguration* config_ = nullptr;
    int channels_ = 0;
    unsigned long inputSamples_ = 0;
    unsigned long maxOutputBytes_ = 0;
    std::vector<int16_t> samples_;
    unsigned long fill_ = 0;
    std::vector<uint8_t> output_;
    bool started_ = false;
    bool failed_ = false;
};

// Raw AAC in ADTS frames (output format 6000); no tags.
class AacWriter : public FaacStream {
public:
    AacWriter() = default;
    ~AacWriter() override { Close(); }

    // Creates (or replaces) the file and opens the encoder; width is that of the blocks (8 or 16).
    bool Open(const std::string& path, int rate, int channels, int width);
    bool Start();
    // Drains the encoder and closes the file; false when anything since Open failed to be written.
    bool Close();

protected:
    bool Consume(unsigned samplesPassed, const uint8_t* data, int bytes) override;

private:
    File file_;
    bool writeFailed_ = false;
};

}  // namespace pelloran
