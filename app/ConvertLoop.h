#pragma once
// One file's conversion: the source's reader, the output format's plan and writer (formats/), and the one
// block loop between them.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/FileItem.h"
#include "app/RunStatus.h"
#include "decode/DecoderFactory.h"
#include "encode/AudioWriter.h"
#include "encode/Limiter.h"
#include "formats/OutputFormat.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

class AudioDecoder;
class ProgressSink;

// What one conversion did, as its plan decided and its loop found; the run's record and the verifier read it.
struct ConversionReport {
    bool unreadable = false;               // no reader took the source
    std::vector<std::string> tagsDropped;  // property names, then "PICTURE" per picture left out
    int largePictures = 0;                 // pictures too large to carry
    int refusedRate = 0;                   // a rate the format cannot hold, converted to the plan's rate
    int plannedRate = 0;
    int sourceRate = 0;
    uint64_t framesRead = 0;  // frames the reader gave, at sourceRate
};

// State of one file's conversion; one per file, so that files can convert in parallel.
struct ConvertContext {
    const ConvertSettings& settings;
    ProgressSink& progress;
    DecoderContext decoder;  // decoder.failureNote: the readers' refusal, when no reader took the source
    int runPosition = 1;     // 1-based position in the run (a track number source)
    const CueSpan* span = nullptr;    // a track of a CUE sheet: only its frames of the source are converted
    const TagRecord* tags = nullptr;  // the source's tags when they do not come from its file (a track's)
    bool truncated = false;  // set by the loop: the source ended before its header said
    ConversionReport report{};  // filled by ConvertFile
    // When set, sees every block the writer gets, as it gets it (the loudness measurement); called on the
    // converting thread.
    std::function<void(const int32_t* const* planes, int frames, const PcmFormat& format)> tap{};
    Note note{};  // why the conversion failed, when the loop or the writer knows (set once)
    // Loudness normalisation: a gain (and, where it would cross the ceiling, a limiter) after the format's gain;
    // the tap sees its result.
    std::optional<NormaliseGain> normalise{};
    // A measuring pass: the blocks the writer would get reach only the tap; no writer is opened.
    bool measureOnly = false;
};

// Converts source into target in the output format of context.settings. Returns 1 on success, 0 on failure or
// Cancel; the writer then leaves nothing at target.
int ConvertFile(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context);


}  // namespace pelloran
