#pragma once
// Gain tags written into a finished file by TagLib: ReplayGain 2.0 fields (Vorbis comments, ID3v2 TXXX frames,
// MP4 freeform items, ASF attributes) and, in Opus files, the R128 gains. Every gain field the file held before
// is removed first, so a source's old values never survive beside new ones.

#include <optional>
#include <string>

namespace pelloran {

// Loudness of the track and of its album in LUFS, with their sample peaks (linear); an absent loudness writes
// none of its fields.
struct GainTagValues {
    std::optional<double> trackLufs;
    double trackPeak = 0.0;
    std::optional<double> albumLufs;
    double albumPeak = 0.0;
};

enum class GainTagResult {
    Written,
    NoTags,  // the file's format holds no tags here (AAC in ADTS, AMR, RF64...): nothing was done
    Failed,  // TagLib could not read or save the file
};

// Replaces the gain fields of the file at path (its kind by its extension) with those of values; with no
// loudness at all, only removes them.
GainTagResult WriteGainTags(const std::string& path, const GainTagValues& values);

}  // namespace pelloran
