#include "media/TagRecord.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cwctype>
#include <iterator>
#include <utility>
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

bool TagRecord::AddValue(const std::string& name, std::string value) {
    auto it = extra.find(name);
    if (it == extra.end() ? extra.size() >= kMaxTagNames : it->second.size() >= kMaxTagValues) {
        ++omittedValues;
        return false;
    }
    if (it == extra.end()) it = extra.emplace(name, std::vector<std::string>{}).first;
    it->second.push_back(std::move(value));
    return true;
}

std::vector<std::string> TagRecord::Values(const std::string& name) const {
    const std::string TagRecord::*field = TagFieldOf(name);
    const auto it = extra.find(name);
    const bool several = it != extra.end() && !it->second.empty();
    if (field == nullptr) return several ? it->second : std::vector<std::string>{};
    const std::string& value = this->*field;
    if (value.empty()) return {};
    // A field set anew (merged custom tags) replaces the values it was the first of.
    if (several && !SingleValued(name) && it->second.front() == value) return it->second;
    return {value};
}

bool SingleValued(std::string_view name) {
    for (const char* single : {"TITLE", "ALBUM", "DATE", "TRACKNUMBER", "COMMENT", "COPYRIGHT", "DISCNUMBER",
                               "TRACKTOTAL", "DISCTOTAL", "TOTALTRACKS", "TOTALDISCS", "ORIGINALDATE", "BPM",
                               "COMPILATION", "MUSICBRAINZ_TRACKID", "MUSICBRAINZ_ALBUMID",
                               "MUSICBRAINZ_RELEASEGROUPID", "MUSICBRAINZ_RELEASETRACKID"}) {
        if (name == single) return true;
    }
    return false;
}

void SettleValues(TagRecord& tags) {
    for (const auto& [from, to] : {std::pair{"TOTALTRACKS", "TRACKTOTAL"}, std::pair{"TOTALDISCS", "DISCTOTAL"}}) {
        auto it = tags.extra.find(from);
        if (it == tags.extra.end()) continue;
        if (tags.extra.count(to) == 0) tags.extra[to] = std::move(it->second);
        tags.extra.erase(from);
    }
    for (auto it = tags.extra.begin(); it != tags.extra.end();) {
        std::vector<std::string>& values = it->second;
        std::string TagRecord::*field = TagFieldOf(it->first);
        if (SingleValued(it->first) && values.size() > 1) values.erase(values.begin(), values.end() - 1);
        if (field != nullptr && !values.empty()) {
            tags.*field = SingleValued(it->first) ? values.back() : values.front();
            // One value lives in the field alone.
            if (SingleValued(it->first) || values.size() == 1) {
                it = tags.extra.erase(it);
                continue;
            }
        }
        if (values.empty()) {
            it = tags.extra.erase(it);
            continue;
        }
        ++it;
    }
}

// Picard's names of its fields in ID3v2, MP4 and ASF.
const TagNameRow kTagNames[] = {
    {"ALBUMARTIST", "TPE2", "aART", "WM/AlbumArtist"},
    {"ALBUMARTISTSORT", "TSO2", "soaa", "WM/AlbumArtistSortOrder"},
    {"ARTISTSORT", "TSOP", "soar", "WM/ArtistSortOrder"},
    {"ALBUMSORT", "TSOA", "soal", "WM/AlbumSortOrder"},
    {"TITLESORT", "TSOT", "sonm", "WM/TitleSortOrder"},
    {"COMPOSERSORT", "TSOC", "soco", "WM/ComposerSortOrder"},
    {"ARTISTS", "TXXX:ARTISTS", "----:com.apple.iTunes:ARTISTS", "WM/ARTISTS"},
    {"GROUPING", "TIT1", "\xA9grp", "WM/ContentGroupDescription"},
    {"WORK", "TXXX:WORK", "\xA9wrk", "WM/Work"},
    {"MOVEMENTNAME", "MVNM", "\xA9mvn", nullptr},
    {"SUBTITLE", "TIT3", "----:com.apple.iTunes:SUBTITLE", "WM/SubTitle"},
    {"DISCSUBTITLE", "TSST", "----:com.apple.iTunes:DISCSUBTITLE", "WM/SetSubTitle"},
    {"LABEL", "TPUB", "----:com.apple.iTunes:LABEL", "WM/Publisher"},
    {"CATALOGNUMBER", "TXXX:CATALOGNUMBER", "----:com.apple.iTunes:CATALOGNUMBER", "WM/CatalogNo"},
    {"BARCODE", "TXXX:BARCODE", "----:com.apple.iTunes:BARCODE", "WM/Barcode"},
    {"ISRC", "TSRC", "----:com.apple.iTunes:ISRC", "WM/ISRC"},
    {"ASIN", "TXXX:ASIN", "----:com.apple.iTunes:ASIN", nullptr},
    {"MEDIA", "TMED", "----:com.apple.iTunes:MEDIA", "WM/Media"},
    {"SCRIPT", "TXXX:SCRIPT", "----:com.apple.iTunes:SCRIPT", "WM/Script"},
    {"LANGUAGE", "TLAN", "----:com.apple.iTunes:LANGUAGE", "WM/Language"},
    {"MOOD", "TMOO", "----:com.apple.iTunes:MOOD", "WM/Mood"},
    {"BPM", "TBPM", "tmpo", "WM/BeatsPerMinute"},
    {"COMPILATION", "TCMP", "cpil", "WM/IsCompilation"},
    {"CONDUCTOR", "TPE3", "----:com.apple.iTunes:CONDUCTOR", "WM/Conductor"},
    {"LYRICIST", "TEXT", "----:com.apple.iTunes:LYRICIST", "WM/Writer"},
    {"REMIXER", "TPE4", "----:com.apple.iTunes:REMIXER", "WM/ModifiedBy"},
    {"ENCODEDBY", "TENC", "\xA9too", "WM/EncodedBy"},
    {"ORIGINALDATE", "TDOR", "----:com.apple.iTunes:ORIGINALDATE", "WM/OriginalReleaseTime"},
    {"ORIGINALYEAR", "TXXX:originalyear", "----:com.apple.iTunes:ORIGINALYEAR", "WM/OriginalReleaseYear"},
    {"RELEASETYPE", "TXXX:MusicBrainz Album Type", "----:com.apple.iTunes:MusicBrainz Album Type",
     "MusicBrainz/Album Type"},
    {"RELEASESTATUS", "TXXX:MusicBrainz Album Status", "----:com.apple.iTunes:MusicBrainz Album Status",
     "MusicBrainz/Album Status"},
    {"RELEASECOUNTRY", "TXXX:MusicBrainz Album Release Country",
     "----:com.apple.iTunes:MusicBrainz Album Release Country", "MusicBrainz/Album Release Country"},
    {"MUSICBRAINZ_TRACKID", "UFID:http://musicbrainz.org", "----:com.apple.iTunes:MusicBrainz Track Id",
     "MusicBrainz/Track Id"},
    {"MUSICBRAINZ_RELEASETRACKID", "TXXX:MusicBrainz Release Track Id",
     "----:com.apple.iTunes:MusicBrainz Release Track Id", "MusicBrainz/Release Track Id"},
    {"MUSICBRAINZ_ALBUMID", "TXXX:MusicBrainz Album Id", "----:com.apple.iTunes:MusicBrainz Album Id",
     "MusicBrainz/Album Id"},
    {"MUSICBRAINZ_ARTISTID", "TXXX:MusicBrainz Artist Id", "----:com.apple.iTunes:MusicBrainz Artist Id",
     "MusicBrainz/Artist Id"},
    {"MUSICBRAINZ_ALBUMARTISTID", "TXXX:MusicBrainz Album Artist Id",
     "----:com.apple.iTunes:MusicBrainz Album Artist Id", "MusicBrainz/Album Artist Id"},
    {"MUSICBRAINZ_RELEASEGROUPID", "TXXX:MusicBrainz Release Group Id",
     "----:com.apple.iTunes:MusicBrainz Release Group Id", "MusicBrainz/Release Group Id"},
    {"MUSICBRAINZ_WORKID", "TXXX:MusicBrainz Work Id", "----:com.apple.iTunes:MusicBrainz Work Id",
     "MusicBrainz/Work Id"},
    {"MUSICBRAINZ_DISCID", "TXXX:MusicBrainz Disc Id", "----:com.apple.iTunes:MusicBrainz Disc Id",
     "MusicBrainz/Disc Id"},
    {"MUSICBRAINZ_ORIGINALALBUMID", "TXXX:MusicBrainz Original Album Id",
     "----:com.apple.iTunes:MusicBrainz Original Album Id", "MusicBrainz/Original Album Id"},
    {"MUSICBRAINZ_ORIGINALARTISTID", "TXXX:MusicBrainz Original Artist Id",
     "----:com.apple.iTunes:MusicBrainz Original Artist Id", "MusicBrainz/Original Artist Id"},
    {"ACOUSTID_ID", "TXXX:Acoustid Id", "----:com.apple.iTunes:Acoustid Id", "Acoustid/Id"},
    {"ACOUSTID_FINGERPRINT", "TXXX:Acoustid Fingerprint", "----:com.apple.iTunes:Acoustid Fingerprint",
     "Acoustid/Fingerprint"},
    {"TRACKTOTAL", nullptr, nullptr, "TotalTracks"},
    {"DISCTOTAL", nullptr, nullptr, "TotalDiscs"},
    {"DISCNUMBER", "TPOS", "disk", "WM/PartOfSet"},
};
const size_t kTagNameCount = std::size(kTagNames);

const TagNameRow* TagNameOf(std::string_view property) {
    for (const TagNameRow& row : kTagNames) {
        if (property == row.property) return &row;
    }
    return nullptr;
}

std::string PropertyOfTagName(std::string_view name) {
    const auto after = [](const char* text, std::string_view prefix) -> std::string_view {
        if (text == nullptr) return {};
        const std::string_view t(text);
        return t.substr(0, prefix.size()) == prefix ? t.substr(prefix.size()) : std::string_view{};
    };
    for (const TagNameRow& row : kTagNames) {
        for (const std::string_view own : {after(row.id3, "TXXX:"), after(row.mp4, "----:com.apple.iTunes:"),
                                           row.asf ? std::string_view(row.asf) : std::string_view{}}) {
            if (!own.empty() && EqualsIgnoreCase(own, name)) return row.property;
        }
    }
    return {};
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
