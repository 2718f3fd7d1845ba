#pragma once
// Constructors of the built-in readers; each reader's source file defines its own.

#include <memory>

#include "decode/AudioDecoder.h"

namespace pelloran {

std::unique_ptr<AudioDecoder> MakeBassDecoder();
std::unique_ptr<AudioDecoder> MakeWavReader();
std::unique_ptr<AudioDecoder> MakeAiffReader();
std::unique_ptr<AudioDecoder> MakeAuReader();
std::unique_ptr<AudioDecoder> MakeFfmpegDecoder();
std::unique_ptr<AudioDecoder> MakeFfmpegProbe();
std::unique_ptr<AudioDecoder> MakeOggVorbisDecoder();
std::unique_ptr<AudioDecoder> MakeWmaReader();

}  // namespace pelloran
