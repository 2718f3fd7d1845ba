#pragma once
// Checking an output after it is written: decoded again by our own readers, its frame count compared with the
// source's (and a WAV's samples with the source's samples).
//
// Known offsets of the encoders, in frames at the output's rate (E: the source's count at that rate):
//   WAV, Ogg Vorbis, M4A/MP4/M4B, FLAC, Opus, ALAC    exactly E (M4A: the edit list removes the encoder's delay
//                                                     and its padding; our reader honours both)
//   MP3 with the LAME/Info tag                         exactly E (the tag gives the delay and the padding)
//   MP3 without it                                     exactly E + 576 (LAME's delay) + P, P padding to the
//                                                      frame grid (1152 frames from 32 kHz, 576 below), plus
//                                                      one frame when P < 576: E + 1152 .. E + 2303 (E + 1727
//                                                      below 32 kHz)
//   AAC in ADTS (.aac)                                 E + 1024 (the encoder's delay) + padding to the
//                                                      1024-frame grid: E + 1024 .. E + 2047
//   AMR, AMR-WB                                        E + padding to the 20 ms frame grid: E .. E + 159 at
//                                                      8 kHz, E .. E + 319 at 16 kHz; the sound itself lags by
//                                                      the codec's delay, about 10 ms
//   WMA                                                E + padding to the frame grid: E .. E + 2047
// A resampled output may differ by two more frames either way (MP3 without the tag: the lengths for E - 2
// and E + 2).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "decode/DecoderFactory.h"
#include "app/ConvertLoop.h"
#include "app/RunStatus.h"
#include "formats/OutputFormat.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// What the check found wrong, as the first of a VerifyFailed note's values; its numbers follow.
enum class VerifyProblem : uint64_t {
    None,
    SourceUnreadable,
    OutputUnreadable,
    Cancelled,
    SampleDiffers,  // the frame
    Length,         // the output's frames, then the least and the most expected
};

struct VerifyOutcome {
    bool ok = false;
    Note note;                   // why the check failed: VerifyFailed with the problem and its numbers
    uint64_t sourceFrames = 0;   // at the source's rate
    uint64_t outputFrames = 0;   // decoded from the output, at its rate
};

// The frames an output of that format may decode to, for `expected` frames of source at the output's rate: the
// format's length rule (formats/), exactly `expected` without one.
FrameSpan AllowedFrames(int32_t outputFormat, uint64_t expected, int outputRate, bool encoderTag, bool resampled);

// Decodes the output again and checks its length against the source's frames, which the conversion's report
// gives (else the source is decoded again); a format that keeps the samples (WAV without gain) has the source
// decoded again and every sample compared. cancelled: asked between blocks. span: the output is that track of
// the source.
VerifyOutcome VerifyConversion(const ConvertSettings& settings, uint16_t formatCode, const std::string& source,
                               const std::string& output, std::optional<ReaderKind> preferred,
                               const std::function<bool()>& cancelled, const ConversionReport* report = nullptr,
                               const CueSpan* span = nullptr);

}  // namespace pelloran
