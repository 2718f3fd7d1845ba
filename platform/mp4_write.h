#pragma once
// The writing calls of the MPEG-4 container library ("Exx"), built on libavformat's MP4 muxer (the iTunes
// flavour, brand "M4A "). One AAC audio track per file, iTunes-style metadata in UTF-8.
//
// Timing: a track's samples follow each other by their durations (in the track's time scale). The
// rendering offset of the first sample is the encoder delay: the file gets an edit list that starts
// playback that far into the track, so players skip the delay. Later samples' offsets must be 0.
// The file is finished by MP4CloseExx (platform/mp4.h).

#include <cstdint>
#include <string>

#include "platform/mp4.h"

namespace pelloran {

using MP4TrackId = uint32_t;
inline constexpr MP4TrackId MP4_INVALID_TRACK_ID = 0;
inline constexpr uint64_t MP4_INVALID_DURATION = ~0ULL;  // samples of varying duration
inline constexpr uint8_t MP4_MPEG4_AUDIO_TYPE = 0x40;

// Creates (or replaces) the file; MP4_INVALID_FILE_HANDLE when it cannot be created.
MP4FileHandle MP4CreateExx(const std::string& path);
bool MP4SetTimeScaleExx(MP4FileHandle file, uint32_t timeScale);
// Adds the audio track (MPEG-4 audio only); its time scale is the sample rate.
MP4TrackId MP4AddAudioTrackExx(MP4FileHandle file, uint32_t timeScale, uint64_t sampleDuration, uint8_t audioType);
bool MP4SetAudioProfileLevelExx(MP4FileHandle file, uint8_t level);
// The track's AudioSpecificConfig; it also gives the channel count.
bool MP4SetTrackESConfigurationExx(MP4FileHandle file, MP4TrackId track, const uint8_t* config, uint32_t size);
// Appends one AAC frame. False when it cannot be written (a write error, or the track not set up).
bool MP4WriteSampleExx(MP4FileHandle file, MP4TrackId track, const uint8_t* bytes, uint32_t size,
                       uint64_t duration, uint64_t renderingOffset, bool isSyncSample);

// Metadata items, each a UTF-8 text; they may be set until the file is closed.
bool MP4SetMetadataNameExx(MP4FileHandle file, const char* value);
bool MP4SetMetadataArtistExx(MP4FileHandle file, const char* value);
bool MP4SetMetadataAlbumExx(MP4FileHandle file, const char* value);
bool MP4SetMetadataYearExx(MP4FileHandle file, const char* value);
bool MP4SetMetadataGenreExx(MP4FileHandle file, const char* value);
bool MP4SetMetadataCommentExx(MP4FileHandle file, const char* value);
bool MP4SetMetadataWriterExx(MP4FileHandle file, const char* value);
bool MP4SetMetadataTrackExx(MP4FileHandle file, uint16_t track, uint16_t total);

// Channel count of an AudioSpecificConfig (1..7 from its channel configuration), 0 when it cannot be read.
int AudioSpecificConfigChannels(const uint8_t* config, uint32_t size);

}  // namespace pelloran
