#include "platform/TagReader.h"

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/tfile.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/File.h"
#include "platform/Id3v2Header.h"

namespace pelloran {

namespace {

// TagLib's view of one of our open files: read-only, at its own position.
class FileStream final : public TagLib::IOStream {
public:
    FileStream(const File& file, const std::string& name) : file_(file), name_(name), size_(file.Size()) {}

    TagLib::FileName name() const override { return name_.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override {
        if (size_ <= position_) return {};
        // Never more than the file holds, whatever size a damaged header asks for.
        const auto n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(length), size_ - position_));
        TagLib::ByteVector data(static_cast<unsigned int>(n), '\0');
        const int64_t got = file_.ReadAt(position_, data.data(), n);
        if (got <= 0) return {};
        data.resize(static_cast<unsigned int>(got));
        position_ += got;
        return data;
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return file_.IsOpen(); }
    void seek(long offset, Position p) override {
        const int64_t base = p == Beginning ? 0 : p == Current ? position_ : size_;
        position_ = std::max<int64_t>(0, base + offset);
    }
    long tell() const override { return static_cast<long>(position_); }
    long length() override { return static_cast<long>(std::max<int64_t>(size_, 0)); }
    void truncate(long) override {}

private:
    const File& file_;
    std::string name_;
    int64_t size_;
    int64_t position_ = 0;
};

std::vector<uint8_t> Bytes(const TagLib::ByteVector& data) { return {data.begin(), data.end()}; }

// Adds a picture unless it is empty; one over the limit is counted instead.
void AddPicture(TagRecord& tags, TagPicture picture) {
    if (picture.data.empty()) return;
    if (picture.data.size() > kMaxPictureBytes) {
        ++tags.oversizePictures;
        return;
    }
    if (picture.mimeType.empty()) picture.mimeType = SniffImageType(picture.data);
    tags.pictures.push_back(std::move(picture));
}

void Id3v2Pictures(TagLib::ID3v2::Tag* tag, TagRecord& tags) {
    if (tag == nullptr) return;
    for (TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        const auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (apic == nullptr) continue;
        AddPicture(tags, {static_cast<int>(apic->type()), apic->mimeType().to8Bit(true),
                          apic->description().to8Bit(true), Bytes(apic->picture())});
    }
}

void FlacPictures(const TagLib::List<TagLib::FLAC::Picture*>& list, TagRecord& tags) {
    for (const TagLib::FLAC::Picture* p : list) {
        AddPicture(tags, {static_cast<int>(p->type()), p->mimeType().to8Bit(true), p->description().to8Bit(true),
                          Bytes(p->data())});
    }
}

// APEv2 cover items hold a file name, a zero byte, then the image.
void ApePictures(TagLib::APE::Tag* tag, TagRecord& tags) {
    if (tag == nullptr) return;
    for (const auto& [key, type] : {std::pair{"COVER ART (FRONT)", 3}, std::pair{"COVER ART (BACK)", 4}}) {
        const auto it = tag->itemListMap().find(key);
        if (it == tag->itemListMap().end()) continue;
        const TagLib::ByteVector value = it->second.binaryData();
        const int zero = value.find('\0');
        if (zero < 0) continue;
        AddPicture(tags, {type, "", "", Bytes(value.mid(static_cast<unsigned int>(zero) + 1))});
    }
}

// Pictures of the formats TagLib knows them in, the front cover first.
void ReadPictures(TagLib::File* file, TagRecord& tags) {
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
        Id3v2Pictures(mpeg->ID3v2Tag(), tags);
        ApePictures(mpeg->APETag(), tags);
    } else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        FlacPictures(flac->pictureList(), tags);
    } else if (auto* ogg = dynamic_cast<TagLib::Ogg::File*>(file)) {
        if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(ogg->tag())) FlacPictures(xiph->pictureList(), tags);
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        TagLib::MP4::Tag* tag = mp4->tag();
        if (tag != nullptr && tag->contains("covr")) {
            for (const TagLib::MP4::CoverArt& art : tag->item("covr").toCoverArtList())
                AddPicture(tags, {3, "", "", Bytes(art.data())});
        }
    } else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
        TagLib::ASF::Tag* tag = asf->tag();
        if (tag != nullptr && tag->contains("WM/Picture")) {
            for (const TagLib::ASF::Attribute& attribute : tag->attribute("WM/Picture")) {
                const TagLib::ASF::Picture p = attribute.toPicture();
                if (!p.isValid()) continue;
                AddPicture(tags, {static_cast<int>(p.type()), p.mimeType().to8Bit(true), p.description().to8Bit(true),
                                  Bytes(p.picture())});
            }
        }
    } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        Id3v2Pictures(wav->ID3v2Tag(), tags);
    } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
        Id3v2Pictures(aiff->tag(), tags);
    } else if (auto* ape = dynamic_cast<TagLib::APE::Tag*>(file->tag())) {
        ApePictures(ape, tags);
    }
    std::stable_sort(tags.pictures.begin(), tags.pictures.end(),
                     [](const TagPicture& a, const TagPicture& b) { return a.type == 3 && b.type != 3; });
}

// A property name as the record keeps it: printable ASCII without '=', upper case; "" when it has none.
std::string PropertyName(const TagLib::String& key) {
    std::string name = key.to8Bit(true);
    for (char& c : name) {
        if (c < 0x20 || c > 0x7D || c == '=') return {};
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

// Size of the ID3v2 tag whose header is at p (header, body and footer), or 0 when p holds no header.
uint64_t Id3v2TagSize(const uint8_t (&p)[kId3v2HeaderBytes]) {
    const std::optional<Id3v2Header> header = ParseId3v2Header(p, sizeof p);
    return header ? header->totalSize() : 0;
}

// Container metadata keys (FFmpeg's generic names and ASF attribute names) with a property name of their own.
constexpr std::pair<const char*, const char*> kMetadataKeys[] = {
    {"title", "TITLE"},           {"artist", "ARTIST"},           {"author", "ARTIST"},
    {"album", "ALBUM"},           {"date", "DATE"},               {"year", "DATE"},
    {"WM/Year", "DATE"},          {"genre", "GENRE"},             {"comment", "COMMENT"},
    {"description", "COMMENT"},   {"track", "TRACKNUMBER"},       {"composer", "COMPOSER"},
    {"copyright", "COPYRIGHT"},   {"album_artist", "ALBUMARTIST"}, {"disc", "DISCNUMBER"},
    {"publisher", "LABEL"},       {"encoded_by", "ENCODEDBY"},    {"encoder", "ENCODER"},
    {"lyrics", "LYRICS"},           {"performer", "PERFORMER"},
    {"compilation", "COMPILATION"}, {"grouping", "GROUPING"},     {"WM/BeatsPerMinute", "BPM"},
    {"WM/ISRC", "ISRC"},          {"WM/Lyrics", "LYRICS"},        {"WM/Conductor", "CONDUCTOR"},
    {"WM/Mood", "MOOD"},          {"WM/Writer", "LYRICIST"},      {"WM/ContentGroupDescription", "GROUPING"},
    {"MusicBrainz/Track Id", "MUSICBRAINZ_TRACKID"},   {"MusicBrainz/Album Id", "MUSICBRAINZ_ALBUMID"},
    {"MusicBrainz/Artist Id", "MUSICBRAINZ_ARTISTID"}, {"MusicBrainz/Album Artist Id", "MUSICBRAINZ_ALBUMARTISTID"},
    {"MusicBrainz/Release Group Id", "MUSICBRAINZ_RELEASEGROUPID"},
};

// Names that describe the source file itself (its encoder, its container, its gapless data): true of the
// source, false of any output, so they never travel.
bool DescribesTheFile(std::string_view property) {
    for (const char* name : {"ENCODER", "ENCODING", "ENCODERSETTINGS", "ENCODER_OPTIONS", "ITUNSMPB", "DURATION",
                             "MAJOR_BRAND", "MINOR_VERSION", "COMPATIBLE_BRANDS", "CREATION_TIME", "HANDLER_NAME",
                             "VENDOR_ID", "LANGUAGE_ID", "VARIANT_BITRATE"}) {
        if (property == name) return true;
    }
    return false;
}

}  // namespace

std::string PropertyNameOfMetadataKey(std::string_view key) {
    // FFmpeg's "language" of a stream is its track's language code, not a field of the tags.
    if (key == "language") return {};
    if (std::string known = PropertyOfTagName(key); !known.empty()) return known;
    for (const auto& [name, property] : kMetadataKeys) {
        if (EqualsIgnoreCase(key, name)) return DescribesTheFile(property) ? std::string{} : property;
    }
    // Other names of letters, digits, '_', ' ' and '-' only: upper case, as Vorbis comments spell them.
    std::string name;
    for (char c : key) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != ' ' && c != '-') return {};
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return DescribesTheFile(name) ? std::string{} : name;
}

void SplitTotals(TagRecord& tags) {
    SettleValues(tags);
    const auto split = [&tags](std::string& number, const char* totalName) {
        const size_t slash = number.find('/');
        if (slash == std::string::npos) return;
        std::string total = number.substr(slash + 1);
        number.resize(slash);
        while (!total.empty() && total.front() == ' ') total.erase(0, 1);
        while (!number.empty() && number.back() == ' ') number.pop_back();
        if (!total.empty() && tags.extra.count(totalName) == 0) tags.extra[totalName] = {total};
    };
    split(tags.Track, "TRACKTOTAL");
    if (auto it = tags.extra.find("DISCNUMBER"); it != tags.extra.end() && !it->second.empty()) {
        std::string disc = it->second.front();
        split(disc, "DISCTOTAL");
        tags.extra["DISCNUMBER"].front() = disc;
    }
}

void AddMetadataEntry(TagRecord& tags, std::string_view key, const std::string& value) {
    const std::string property = PropertyNameOfMetadataKey(key);
    if (property.empty() || value.empty() || DescribesTheFile(property)) return;
    // Every value; SplitTotals settles the fields once all entries are in.
    tags.AddValue(property, value);
}

namespace {

// Values of from under names into lacks: a tag read after another fills only what the first lacks.
void FillFrom(TagLib::PropertyMap& into, const TagLib::PropertyMap& from) {
    for (const auto& [key, values] : from) {
        if (!into.contains(key)) into.insert(key, values);
    }
}

// An ID3v2 tag's properties with TIT1 as GROUPING (Picard's reading), not WORK; WORK is TXXX:WORK alone.
TagLib::PropertyMap Id3v2Properties(TagLib::ID3v2::Tag* tag) {
    if (tag == nullptr) return {};
    TagLib::PropertyMap properties = tag->properties();
    const TagLib::ID3v2::FrameList& groups = tag->frameList("TIT1");
    if (groups.isEmpty()) return properties;
    properties.erase("WORK");
    for (TagLib::ID3v2::Frame* frame : tag->frameList("TXXX")) {
        const auto* txxx = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame);
        if (txxx == nullptr || !EqualsIgnoreCase(txxx->description().to8Bit(true), "WORK")) continue;
        TagLib::StringList values = txxx->fieldList();
        if (!values.isEmpty()) values.erase(values.begin());  // the description
        properties["WORK"].append(values);
    }
    if (properties["WORK"].isEmpty()) properties.erase("WORK");
    for (TagLib::ID3v2::Frame* frame : groups) {
        if (const auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame))
            properties["GROUPING"].append(text->fieldList());
    }
    return properties;
}

// The tags of a file with several: ID3v2 first, then APEv2 (mp3gain's ReplayGain, foobar2000's fields), then
// ID3v1 (MP3); ID3v2 then RIFF INFO (WAV). Each fills only names the ones before it lack.
TagLib::PropertyMap AllProperties(TagLib::File* file) {
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
        TagLib::PropertyMap properties = Id3v2Properties(mpeg->ID3v2Tag());
        if (mpeg->APETag() != nullptr) FillFrom(properties, mpeg->APETag()->properties());
        if (mpeg->ID3v1Tag() != nullptr) FillFrom(properties, mpeg->ID3v1Tag()->properties());
        return properties;
    }
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        TagLib::PropertyMap properties = Id3v2Properties(wav->ID3v2Tag());
        if (wav->InfoTag() != nullptr) FillFrom(properties, wav->InfoTag()->properties());
        return properties;
    }
    if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) return Id3v2Properties(aiff->tag());
    return file->properties();
}

// AIFF's own text chunks (NAME, AUTH, ANNO, "(c) ") into properties the ID3 chunk left empty.
void AiffTextChunks(const File& file, TagLib::PropertyMap& properties) {
    constexpr uint32_t kMaxTextBytes = 1u << 16;
    const int64_t size = file.Size();
    uint8_t head[12];
    if (size < 12 || !file.ReadExactAt(0, head, sizeof head) || std::memcmp(head, "FORM", 4) != 0 ||
        (std::memcmp(head + 8, "AIFF", 4) != 0 && std::memcmp(head + 8, "AIFC", 4) != 0))
        return;
    TagLib::PropertyMap found;
    int64_t at = 12;
    for (int chunks = 0; chunks < 4096 && at + 8 <= size; ++chunks) {
        uint8_t h[8];
        if (!file.ReadExactAt(at, h, sizeof h)) break;
        const uint32_t bytes = (uint32_t{h[4]} << 24) | (uint32_t{h[5]} << 16) | (uint32_t{h[6]} << 8) | h[7];
        const int64_t body = at + 8;
        if (bytes > size - body) break;
        const char* property = std::memcmp(h, "NAME", 4) == 0   ? "TITLE"
                               : std::memcmp(h, "AUTH", 4) == 0 ? "ARTIST"
                               : std::memcmp(h, "ANNO", 4) == 0 ? "COMMENT"
                               : std::memcmp(h, "(c) ", 4) == 0 ? "COPYRIGHT"
                                                                : nullptr;
        if (property != nullptr && bytes > 0 && bytes <= kMaxTextBytes) {
            std::string text(bytes, '\0');
            if (file.ReadExactAt(body, text.data(), bytes)) {
                while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
                std::string utf8;
                if (ToValidUtf8(text, utf8)) found[property].append(TagLib::String(utf8, TagLib::String::UTF8));
            }
        }
        at = body + bytes + (bytes & 1);
    }
    FillFrom(properties, found);
}

}  // namespace

bool ReadTagLibTags(const File& file, const std::string& name, TagRecord& tags) {
    FileStream stream(file, name);
    TagLib::FileRef ref(&stream, false);
    if (ref.isNull() || !ref.file()->isValid()) return false;
    TagLib::PropertyMap properties = AllProperties(ref.file());
    if (dynamic_cast<TagLib::RIFF::AIFF::File*>(ref.file()) != nullptr) AiffTextChunks(file, properties);
    const bool mp4 = dynamic_cast<TagLib::MP4::File*>(ref.file()) != nullptr;
    TagRecord found;
    // Every value of every name; SettleValues picks the fields' values.
    const auto add = [&found](std::string property, const TagLib::StringList& values) {
        if (property.empty() || DescribesTheFile(property)) return;
        // A format's own name of a known field (an unmapped TXXX description, a freeform MP4 name).
        if (const std::string known = PropertyOfTagName(property); !known.empty()) property = known;
        for (const TagLib::String& value : values) found.AddValue(property, value.to8Bit(true));
    };
    for (const auto& [key, values] : properties) {
        const std::string property = PropertyName(key);
        // MP4's ©too names the program that encoded the file (iTunes), not a person.
        if (mp4 && property == "ENCODEDBY") continue;
        add(property, values);
    }
    // ASF attributes TagLib has no property for, written under a property name of their own or Picard's.
    if (auto* asf = dynamic_cast<TagLib::ASF::File*>(ref.file()); asf != nullptr && asf->tag() != nullptr) {
        for (const auto& [key, attributes] : asf->tag()->attributeListMap()) {
            // More artists than the content description's one.
            if (key == "Author") {
                for (const TagLib::ASF::Attribute& a : attributes) found.AddValue("ARTIST", a.toString().to8Bit(true));
                continue;
            }
            std::string property = PropertyOfTagName(key.to8Bit(true));
            if (property.empty()) {
                property = PropertyName(key);
                if (property.empty() || property.find('/') != std::string::npos || property != key.to8Bit(true))
                    continue;
            }
            if (TagFieldOf(property) != nullptr || properties.contains(TagLib::String(property, TagLib::String::UTF8)))
                continue;
            TagLib::StringList values;
            for (const TagLib::ASF::Attribute& a : attributes) {
                if (a.type() == TagLib::ASF::Attribute::UnicodeType) values.append(a.toString());
                else if (a.type() == TagLib::ASF::Attribute::BoolType) values.append(a.toBool() ? "1" : "0");
                else if (a.type() == TagLib::ASF::Attribute::DWordType) values.append(TagLib::String::number(static_cast<int>(a.toUInt())));
            }
            if (found.extra.count(property) == 0) add(property, values);
        }
    }
    // iTunes freeform items TagLib has no property for ("----:com.apple.iTunes:NAME").
    if (auto* mp4File = dynamic_cast<TagLib::MP4::File*>(ref.file()); mp4File != nullptr && mp4File->tag() != nullptr) {
        const std::string prefix = "----:com.apple.iTunes:";
        const TagLib::MP4::ItemMap& items = mp4File->tag()->itemMap();
        for (const TagLib::String& key : properties.unsupportedData()) {
            const std::string itemName = key.to8Bit(true);
            const auto item = items.find(key);
            if (itemName.rfind(prefix, 0) != 0 || item == items.end()) continue;
            std::string property = PropertyOfTagName(itemName.substr(prefix.size()));
            if (property.empty()) property = PropertyName(TagLib::String(itemName.substr(prefix.size()), TagLib::String::UTF8));
            if (property.empty() || TagFieldOf(property) != nullptr || found.extra.count(property) != 0) continue;
            add(property, item->second.toStringList());
        }
    }
    SettleValues(found);
    // Vorbis comments may name the comment field DESCRIPTION.
    if (found.Comment.empty() && !found.Extra("DESCRIPTION").empty()) {
        found.Comment = found.Extra("DESCRIPTION");
        found.extra.erase("DESCRIPTION");
    }
    SplitTotals(found);
    ReadPictures(ref.file(), found);
    if (found.Empty() && found.oversizePictures == 0) return false;
    tags = std::move(found);
    return true;
}

namespace {

// Base64 (with or without padding, no other characters); false on anything else.
bool Base64Decode(std::string_view text, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(text.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;
    size_t end = text.size();
    while (end > 0 && text[end - 1] == '=') --end;
    if (text.size() - end > 2) return false;
    for (size_t i = 0; i < end; ++i) {
        const char c = text[i];
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else return false;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(bits >> 16));
            out.push_back(static_cast<uint8_t>(bits >> 8));
            out.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1) return false;
    if (count == 2) out.push_back(static_cast<uint8_t>(bits >> 4));
    if (count == 3) {
        out.push_back(static_cast<uint8_t>(bits >> 10));
        out.push_back(static_cast<uint8_t>(bits >> 2));
    }
    return true;
}

}  // namespace

bool PictureFromVorbisComment(std::string_view base64, TagPicture& picture) {
    // Base64 of the largest block carried: the picture, its texts and the fixed fields.
    if (base64.size() > (kMaxPictureBytes + 65536) / 3 * 4) return false;
    std::vector<uint8_t> block;
    if (!Base64Decode(base64, block)) return false;
    size_t at = 0;
    const auto u32 = [&block, &at](uint32_t& v) {
        if (block.size() - at < 4) return false;
        v = (uint32_t{block[at]} << 24) | (uint32_t{block[at + 1]} << 16) | (uint32_t{block[at + 2]} << 8) | block[at + 3];
        at += 4;
        return true;
    };
    const auto text = [&block, &at](uint32_t n, std::string& out) {
        if (block.size() - at < n) return false;
        out.assign(block.begin() + static_cast<std::ptrdiff_t>(at), block.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
        return true;
    };
    uint32_t type = 0, n = 0, skipped = 0;
    TagPicture p;
    if (!u32(type) || !u32(n) || !text(n, p.mimeType) || !u32(n) || !text(n, p.description)) return false;
    for (int i = 0; i < 4; ++i) {
        if (!u32(skipped)) return false;  // width, height, depth, colours
    }
    if (!u32(n) || n > kMaxPictureBytes || block.size() - at < n || n == 0) return false;
    p.type = type <= 20 ? static_cast<int>(type) : 0;
    p.data.assign(block.begin() + static_cast<std::ptrdiff_t>(at), block.begin() + static_cast<std::ptrdiff_t>(at + n));
    picture = std::move(p);
    return true;
}

Id3Blocks ReadId3Blocks(const File& file) {
    Id3Blocks blocks;
    const int64_t size = file.Size();
    if (size < 10) return blocks;
    uint8_t header[kId3v2HeaderBytes];
    if (file.ReadExactAt(0, header, sizeof header)) {
        const uint64_t tagSize = Id3v2TagSize(header);
        if (tagSize != 0 && tagSize <= static_cast<uint64_t>(size)) {
            blocks.v2.resize(tagSize);
            if (!file.ReadExactAt(0, blocks.v2.data(), blocks.v2.size())) blocks.v2.clear();
        }
    }
    std::array<uint8_t, 128> v1;
    if (size >= 128 && file.ReadExactAt(size - 128, v1.data(), v1.size()) && std::memcmp(v1.data(), "TAG", 3) == 0)
        blocks.v1 = v1;
    return blocks;
}

}  // namespace pelloran
