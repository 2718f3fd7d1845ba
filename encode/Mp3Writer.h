#pragma once
// MPEG layer III writer on LAME: constant bit rate, no VBR information frame,
// an optional ID3v2 block before the audio and an optional 128-byte ID3v1 block after it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"

struct lame_global_struct;

namespace pelloran {

class Mp3Writer {
public:
    Mp3Writer() = default;
    ~Mp3Writer() { Finish(); }
    Mp3Writer(const Mp3Writer&) = delete;
    Mp3Writer& operator=(const Mp3Writer&) = delete;

    // Finishes any open file, creates (or replaces) path and the encoder handle.
    bool Open(const std::string& path);

    // Tag blocks copied by the writer; call before Start (ID3v2) or Finish (ID3v1).
    void SetId3v1Block(const uint8_t* block128);
    void SetId3v2Block(const uint8_t* block, size_t size);

    // Encoder parameters, between Open and Start.
    void SetInputRate(int rate);
    void SetChannels(int channels);  // clamped to 1..2
    void SetMode(int mode);          // 0 stereo, 1 joint stereo, 3 mono; anything else is 0
    void SetOutputRate(int rate);
    void SetBitRateKbps(int kbps);   // clamped to 8..320

    // Constant bit rate without a VBR frame; writes the ID3v2 block. False when LAME refuses the parameters.
    bool Start();
    // Encodes one block of 16-bit planar samples (right ignored for one input channel); false on a write
    // or encoder error.
    bool Encode(const int16_t* left, const int16_t* right, int frames);
    // Flushes the encoder, appends the ID3v1 block and closes; false when anything since Open failed.
    // Does nothing (true) on an idle writer.
    bool Finish();

    bool IsOpen() const { return file_.IsOpen(); }
    // Parameters as the encoder holds them (for checks), -1 without an encoder.
    int Channels() const;
    int Mode() const;
    int BitRateKbps() const;

private:
    struct LameCloser {
        void operator()(lame_global_struct* handle) const;
    };

    bool WriteOutput(int bytes);

    File file_;
    std::unique_ptr<lame_global_struct, LameCloser> lame_;
    std::vector<uint8_t> output_;
    std::vector<uint8_t> id3v1_;
    std::vector<uint8_t> id3v2_;
    bool started_ = false;
    bool failed_ = false;
};

}  // namespace pelloran
