// Reading side of the MPEG-4 layer: metadata items through TagLib's MP4 support.

#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/mp4.h"

namespace pelloran {

namespace {

class Mp4ReadFile final : public Mp4File {
public:
    explicit Mp4ReadFile(const std::string& path) : file_(path.c_str(), false) {}
    bool Valid() { return file_.isValid() && file_.tag() != nullptr; }
    const TagLib::MP4::Tag& Tag() { return *file_.tag(); }

private:
    TagLib::MP4::File file_;
};

Mp4ReadFile* AsReader(MP4FileHandle file) { return dynamic_cast<Mp4ReadFile*>(file); }

char* CopyText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// The first text of an item, e.g. "\251nam" (the key's first byte is the copyright sign).
bool GetText(MP4FileHandle file, const char* key, char** value) {
    if (value == nullptr) return false;
    *value = nullptr;
    Mp4ReadFile* reader = AsReader(file);
    if (reader == nullptr) return false;
    const TagLib::String name(key, TagLib::String::Latin1);
    if (!reader->Tag().contains(name)) return false;
    const TagLib::StringList list = reader->Tag().item(name).toStringList();
    if (list.isEmpty()) return false;
    *value = CopyText(list.front().to8Bit(true));
    return *value != nullptr;
}

}  // namespace

MP4FileHandle MP4ReadExx(const std::string& path) {
    auto reader = std::make_unique<Mp4ReadFile>(path);
    if (!reader->Valid()) return MP4_INVALID_FILE_HANDLE;
    return reader.release();
}

bool MP4GetMetadataNameExx(MP4FileHandle file, char** value) { return GetText(file, "\251nam", value); }
bool MP4GetMetadataArtistExx(MP4FileHandle file, char** value) { return GetText(file, "\251ART", value); }
bool MP4GetMetadataAlbumExx(MP4FileHandle file, char** value) { return GetText(file, "\251alb", value); }
bool MP4GetMetadataYearExx(MP4FileHandle file, char** value) { return GetText(file, "\251day", value); }
// TagLib turns the numeric "gnre" item into the genre's name under "\251gen".
bool MP4GetMetadataGenreExx(MP4FileHandle file, char** value) { return GetText(file, "\251gen", value); }
bool MP4GetMetadataCommentExx(MP4FileHandle file, char** value) { return GetText(file, "\251cmt", value); }
bool MP4GetMetadataWriterExx(MP4FileHandle file, char** value) { return GetText(file, "\251wrt", value); }

bool MP4GetMetadataTrackExx(MP4FileHandle file, uint16_t* track, uint16_t* total) {
    Mp4ReadFile* reader = AsReader(file);
    if (reader == nullptr || track == nullptr || total == nullptr) return false;
    if (!reader->Tag().contains("trkn")) return false;
    const TagLib::MP4::Item::IntPair pair = reader->Tag().item("trkn").toIntPair();
    *track = static_cast<uint16_t>(pair.first);
    *total = static_cast<uint16_t>(pair.second);
    return true;
}

void FreeMemExx(void* memory) { std::free(memory); }

bool MP4CloseExx(MP4FileHandle file) {
    if (file == nullptr) return false;
    const bool finished = file->Finish();
    delete file;
    return finished;
}

}  // namespace pelloran
