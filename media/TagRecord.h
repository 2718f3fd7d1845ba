#pragma once
// The tag record that travels from readers to writers, and the text helpers.
// Inside the program texts are UTF-8.

#include <string>
#include <string_view>

namespace pelloran {

struct TagRecord {
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    std::string Comment;
    std::string Track;
    std::string Composer;
    std::string Copyright;

    bool Empty() const;
};

// Integer value of a track text: optional blanks and sign, then leading digits; none gives 0.
int TrackNumber(std::string_view track);

// Next code point of UTF-8 text at i (i is advanced past it); an invalid byte gives U+FFFD and advances by one.
char32_t NextCodePoint(std::string_view text, size_t& i);

// Validates UTF-8: well-formed sequences (4-byte ones included) are kept, every invalid byte becomes U+FFFD.
// Returns false (status -1) for an empty text.
bool AnsiToUtf8(std::string_view text, std::string& out);
bool Utf8ToConsoleCodePage(std::string_view text, std::string& out);

// Genre list of ID3v1 (148 names) and the lookup: the first entry equal ignoring case, else 12 ("Other").
extern const char* const kGenreNames[148];
int GenreIndex(std::string_view genre);


}  // namespace pelloran
