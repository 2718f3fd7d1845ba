#include "media/TagRecord.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cwctype>
#include <locale.h>


namespace pelloran {

const char* const kGenreNames[148] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal",
    "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
    "Gospel", "Noise", "Alt. Rock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk",
    "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk",
    "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi",
    "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk/Rock", "National Folk", "Swing", "Fast-Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass",
    "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music",
    "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo",
    "A Cappella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie",
    "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal",
    "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Trash Metal", "Anime", "Jpop",
    "Synthpop"};

bool TagRecord::Empty() const {
    return Title.empty() && Artist.empty() && Album.empty() && Year.empty() && Genre.empty() && Comment.empty() &&
           Track.empty() && Composer.empty() && Copyright.empty() && extra.empty() && pictures.empty();
}

std::string TagRecord::Extra(const std::string& name) const {
    const auto it = extra.find(name);
    return it == extra.end() || it->second.empty() ? std::string{} : it->second.front();
}

const TagFieldName kTagFieldNames[9] = {
    {"TITLE", &TagRecord::Title},     {"ARTIST", &TagRecord::Artist},       {"ALBUM", &TagRecord::Album},
    {"DATE", &TagRecord::Year},       {"GENRE", &TagRecord::Genre},         {"COMMENT", &TagRecord::Comment},
    {"TRACKNUMBER", &TagRecord::Track}, {"COMPOSER", &TagRecord::Composer}, {"COPYRIGHT", &TagRecord::Copyright},
};

std::string TagRecord::*TagFieldOf(std::string_view name) {
    for (const TagFieldName& f : kTagFieldNames) {
        if (name == f.name) return f.field;
    }
    return nullptr;
}

std::string SniffImageType(const std::vector<uint8_t>& data) {
    const auto starts = [&data](std::string_view magic, size_t at = 0) {
        return data.size() >= at + magic.size() && std::equal(magic.begin(), magic.end(), data.begin() + at,
                                                              [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    };
    if (starts("\xFF\xD8\xFF")) return "image/jpeg";
    if (starts("\x89PNG")) return "image/png";
    if (starts("GIF8")) return "image/gif";
    if (starts("BM")) return "image/bmp";
    if (starts("RIFF") && starts("WEBP", 8)) return "image/webp";
    return {};
}

int TrackNumber(std::string_view track) {
    size_t i = 0;
    while (i < track.size() && (track[i] == ' ' || track[i] == '\t')) ++i;
    bool negative = false;
    if (i < track.size() && (track[i] == '+' || track[i] == '-')) negative = track[i++] == '-';
    long value = 0;
    while (i < track.size() && std::isdigit(static_cast<unsigned char>(track[i]))) {
        value = value * 10 + (track[i++] - '0');
        if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;  // saturate like a 32-bit conversion
    }
    return static_cast<int>(negative ? -value : value);
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

namespace {

bool ValidateUtf8(std::string_view text, std::string& out) {
    if (text.empty()) return false;
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        const char32_t cp = NextCodePoint(text, i);
        if (cp == 0xFFFD && i - start == 1) out += "\xEF\xBF\xBD";  // an invalid byte
        else out.append(text.substr(start, i - start));
    }
    return true;
}

}  // namespace

char32_t NextCodePoint(std::string_view text, size_t& i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = b(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        len = 2;
        cp = lead & 0x1F;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3;
        cp = lead & 0x0F;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4;
        cp = lead & 0x07;
        min = 0x10000;
    }
    if (len == 0 || i + len > text.size()) {
        ++i;
        return 0xFFFD;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += len;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string FoldCase(std::string_view text) {
    // The C.UTF-8 locale holds the Unicode case tables whatever the process locale is.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        char32_t cp = NextCodePoint(text, i);
        if (cp == 0xFFFD && i - start == 1) {
            out += text[start];
            continue;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp);
            continue;
        }
        if (utf8 != static_cast<locale_t>(nullptr))
            cp = static_cast<char32_t>(towlower_l(towupper_l(static_cast<wint_t>(cp), utf8), utf8));
        AppendUtf8(out, cp);
    }
    return out;
}

bool ToValidUtf8(std::string_view text, std::string& out) { return ValidateUtf8(text, out); }

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        // An invalid byte gives U+FFFD and moves one byte; the character itself takes three.
        if (NextCodePoint(text, i) == 0xFFFD && i - start == 1) return false;
    }
    return true;
}

std::string Base64Encode(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const size_t size = text.size();
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < size; i += 3) {
        const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < size) {
        uint32_t v = bytes[i] << 16;
        if (i + 1 < size) v |= bytes[i + 1] << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < size ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}



int GenreIndex(std::string_view genre) {
    for (int i = 0; i < 148; ++i) {
        if (EqualsIgnoreCase(genre, kGenreNames[i])) return i;
    }
    return 12;
}

}  // namespace pelloran
