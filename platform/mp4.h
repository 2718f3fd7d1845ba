#pragma once
// Stand-in for the MPEG-4 container library's "Exx" calls. Reading metadata is built on TagLib
// (platform/mp4_read.cpp); a writer adds its own handle class derived from Mp4File.

#include <cstdint>
#include <memory>
#include <string>

namespace pelloran {

// An open MPEG-4 file; MP4CloseExx finishes and deletes it.
class Mp4File {
public:
    virtual ~Mp4File() = default;
    // Completes the file on close (writers); false when that failed.
    virtual bool Finish() { return true; }
};

using MP4FileHandle = Mp4File*;
inline constexpr MP4FileHandle MP4_INVALID_FILE_HANDLE = nullptr;

// Opens an MPEG-4 file to read its metadata; MP4_INVALID_FILE_HANDLE when it is not one.
MP4FileHandle MP4ReadExx(const std::string& path);

// Metadata getters of a handle from MP4ReadExx: true when the item exists, with a zero-terminated UTF-8
// copy in value that the caller releases with FreeMemExx.
bool MP4GetMetadataNameExx(MP4FileHandle file, char** value);
bool MP4GetMetadataArtistExx(MP4FileHandle file, char** value);
bool MP4GetMetadataAlbumExx(MP4FileHandle file, char** value);
bool MP4GetMetadataYearExx(MP4FileHandle file, char** value);
bool MP4GetMetadataGenreExx(MP4FileHandle file, char** value);
bool MP4GetMetadataCommentExx(MP4FileHandle file, char** value);
bool MP4GetMetadataWriterExx(MP4FileHandle file, char** value);
// Track number and total of the "trkn" item.
bool MP4GetMetadataTrackExx(MP4FileHandle file, uint16_t* track, uint16_t* total);

// Releases a value handed out by a getter.
void FreeMemExx(void* memory);
// Finishes (writers) and closes any handle; false when finishing failed.
bool MP4CloseExx(MP4FileHandle file);

// Owners for the handle and the getters' values.
struct Mp4FileCloser {
    void operator()(Mp4File* file) const { MP4CloseExx(file); }
};
using Mp4FilePtr = std::unique_ptr<Mp4File, Mp4FileCloser>;
struct Mp4MemFreer {
    void operator()(char* memory) const { FreeMemExx(memory); }
};
using Mp4Text = std::unique_ptr<char, Mp4MemFreer>;

}  // namespace pelloran
