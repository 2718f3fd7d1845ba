#pragma once
// The tag record that travels from readers to writers, and the text helpers.
// Inside the program texts are UTF-8.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran {

// A picture of the tags (cover art).
struct TagPicture {
    int type = 3;              // picture type of ID3v2 APIC and FLAC: 3 front cover, 0 other, ...
    std::string mimeType;      // "image/jpeg", "image/png"
    std::string description;
    std::vector<uint8_t> data;
};

// Pictures larger than this are not carried (a note says so).
inline constexpr size_t kMaxPictureBytes = 16u << 20;

// A file's tags hold a few dozen names; these bound what a hostile one costs.
inline constexpr size_t kMaxTagNames = 1024;
inline constexpr size_t kMaxTagValues = 1024;

struct TagRecord {
    // The nine fields every tagged format holds.
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    std::string Comment;
    std::string Track;
    std::string Composer;
    std::string Copyright;
    // Every other field, by TagLib's property name (ALBUMARTIST, DISCNUMBER, TRACKTOTAL, DATE, LYRICS, BPM,
    // COMPILATION, ISRC, MUSICBRAINZ_TRACKID, REPLAYGAIN_TRACK_GAIN, ...), upper case, each with its values.
    std::map<std::string, std::vector<std::string>> extra;
    // Pictures, the front cover first.
    std::vector<TagPicture> pictures;
    // Pictures the reader left out for their size (over kMaxPictureBytes).
    int oversizePictures = 0;

    // The comment was given by the user (custom tags): written even when empty.
    bool commentGiven = false;
    // Values a reader left out past kMaxTagNames names or kMaxTagValues values of one name (hostile files).
    int64_t omittedValues = 0;

    // True when no field and no picture is set.
    bool Empty() const;
    // The first value of extra[name], or "".
    std::string Extra(const std::string& name) const;
    // Adds a value of extra[name] within the bounds; false (and counted) past them.
    bool AddValue(const std::string& name, std::string value);
    // Every value of a property name. A field of the nine holds the first (or only) value; several values of
    // ARTIST, GENRE or COMPOSER stay in extra under the same name, used while their first is the field's.
    std::vector<std::string> Values(const std::string& name) const;
};

// Property names that name one thing (TITLE, ALBUM, DATE, TRACKNUMBER, COMMENT, COPYRIGHT, the disc number, the
// totals, ...): a reader keeps the last value it finds, a writer writes one.
bool SingleValued(std::string_view name);
// Keeps the last value of every single-valued name of extra, and the first of several values of ARTIST, GENRE
// and COMPOSER in their fields (all of them stay in extra); TOTALTRACKS and TOTALDISCS become TRACKTOTAL and
// DISCTOTAL. Readers call it once they have every value.
void SettleValues(TagRecord& tags);

// The names taggers give a property in each format. id3: a frame ("TPE2"), "TXXX:description" or
// "UFID:owner"; mp4: an atom or "----:com.apple.iTunes:name"; asf: an attribute name. Null: no name of
// its own (the property name itself is used).
struct TagNameRow {
    const char* property;
    const char* id3;
    const char* mp4;
    const char* asf;
};
extern const TagNameRow kTagNames[];
extern const size_t kTagNameCount;
// The row of a property name, or null.
const TagNameRow* TagNameOf(std::string_view property);
// The property name of a format's own name (a TXXX description, an MP4 freeform name, an ASF attribute name;
// case ignored); "" when no row has it.
std::string PropertyOfTagName(std::string_view name);

// The nine fields by their property names: TITLE, ARTIST, ALBUM, DATE, GENRE, COMMENT, TRACKNUMBER, COMPOSER,
// COPYRIGHT.
struct TagFieldName {
    const char* name;
    std::string TagRecord::*field;
};
extern const TagFieldName kTagFieldNames[9];
// The field of a property name among the nine (exact upper case), or null.
std::string TagRecord::*TagFieldOf(std::string_view name);

// MIME type of an image by its first bytes (JPEG, PNG, GIF, BMP, WebP), "" when unknown.
std::string SniffImageType(const std::vector<uint8_t>& data);

// Integer value of a track text: optional blanks and sign, then leading digits; none gives 0.
int TrackNumber(std::string_view track);

// Equality ignoring the case of ASCII letters (names, extensions, keys), and the text in one case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);

// Text with Unicode simple case folding applied (invalid bytes kept as they are): names that a case-insensitive
// file system takes for one ("Song" and "SONG", "Ärger" and "ärger") fold to the same text.
std::string FoldCase(std::string_view text);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// Next code point of UTF-8 text at i (i is advanced past it); an invalid byte gives U+FFFD and advances by one.
char32_t NextCodePoint(std::string_view text, size_t& i);

// Validates UTF-8: well-formed sequences (4-byte ones included) are kept, every invalid byte becomes U+FFFD.
// Returns false for an empty text.
bool ToValidUtf8(std::string_view text, std::string& out);
// True when text is well-formed UTF-8 (the empty text included).
bool IsValidUtf8(std::string_view text);
// Standard base64 with padding (picture blocks in comments, names in JSON).
std::string Base64Encode(std::string_view bytes);
inline std::string Base64Encode(const std::vector<uint8_t>& bytes) {
    return Base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Genre list of ID3v1 (148 names) and the lookup: the first entry equal ignoring case, else 12 ("Other").
extern const char* const kGenreNames[148];
int GenreIndex(std::string_view genre);

}  // namespace pelloran
