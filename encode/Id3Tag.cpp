#include "encode/Id3Tag.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/uniquefileidentifierframe.h>

#include <memory>
#include <optional>

#include "platform/Id3v2Header.h"

namespace pelloran {

namespace {

// ID3v2's size field holds 28 bits.
constexpr size_t kMaxId3v2Bytes = (size_t{1} << 28) - 1;

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

TagLib::String Utf8(std::string_view text) { return TagLib::String(std::string(text), TagLib::String::UTF8); }

// ASCII as Latin-1; anything else as UTF-8 in ID3v2.4, UTF-16 in ID3v2.3 (which has no UTF-8).
TagLib::String::Type EncodingFor(std::string_view text, bool v24 = false) {
    return IsAscii(text) ? TagLib::String::Latin1 : v24 ? TagLib::String::UTF8 : TagLib::String::UTF16;
}

TagLib::String::Type EncodingFor(const std::vector<std::string>& values, bool v24) {
    for (const std::string& value : values) {
        if (!IsAscii(value)) return EncodingFor(value, v24);
    }
    return TagLib::String::Latin1;
}

// Several values: one string each in ID3v2.4, joined with "/" in ID3v2.3 as the common taggers do.
TagLib::StringList TextValues(const std::vector<std::string>& values, bool v24) {
    TagLib::StringList list;
    std::string joined;
    for (const std::string& value : values) {
        if (value.empty()) continue;
        if (v24) list.append(Utf8(value));
        else joined += (joined.empty() ? "" : "/") + value;
    }
    if (!v24 && !joined.empty()) list.append(Utf8(joined));
    return list;
}

void AddText(TagLib::ID3v2::Tag& tag, const char* id, const std::vector<std::string>& values, bool v24) {
    const TagLib::StringList list = TextValues(values, v24);
    if (list.isEmpty()) return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(TagLib::ByteVector(id, 4),
                                                                          EncodingFor(values, v24));
    frame->setText(list);
    tag.addFrame(frame.release());
}

void AddUserText(TagLib::ID3v2::Tag& tag, const std::string& description, const std::vector<std::string>& values,
                 bool v24) {
    const TagLib::StringList list = TextValues(values, v24);
    if (list.isEmpty()) return;
    std::vector<std::string> all(values);
    all.push_back(description);
    auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(EncodingFor(all, v24));
    frame->setDescription(Utf8(description));
    frame->setText(list);
    tag.addFrame(frame.release());
}

// "n" or "n/total" of a number field and its total (DISCNUMBER may already hold "1/2").
std::string NumberWithTotal(const std::string& number, const std::string& total) {
    if (total.empty() || number.find('/') != std::string::npos || TrackNumber(total) <= 0) return number;
    return number + "/" + std::to_string(TrackNumber(total));
}

// "YYYY-MM-DD..." gives the day and month of TDAT ("DDMM").
std::optional<std::string> DayAndMonth(std::string_view date) {
    if (date.size() < 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
    for (size_t i : {5, 6, 8, 9}) {
        if (date[i] < '0' || date[i] > '9') return std::nullopt;
    }
    return std::string(date.substr(8, 2)) + std::string(date.substr(5, 2));
}

// "YYYY-MM-DDTHH:MM..." gives the time of TIME ("HHMM").
std::optional<std::string> HourAndMinute(std::string_view date) {
    if (date.size() < 16 || (date[10] != 'T' && date[10] != ' ') || date[13] != ':') return std::nullopt;
    for (size_t i : {11, 12, 14, 15}) {
        if (date[i] < '0' || date[i] > '9') return std::nullopt;
    }
    return std::string(date.substr(11, 2)) + std::string(date.substr(14, 2));
}

// Frames ID3v2.3 lacks: their fields go to TXXX under the property name there.
bool OnlyInVersion4(std::string_view frame) {
    for (const char* id : {"TMOO", "TPRO", "TSOA", "TSOP", "TSOT", "TSST", "TDRL", "TDTG", "TDEN", "TDOR"}) {
        if (frame == id) return true;
    }
    return false;
}

bool IsTotal(std::string_view name) {
    return name == "TRACKTOTAL" || name == "TOTALTRACKS" || name == "DISCTOTAL" || name == "TOTALDISCS";
}

// Fields of extra: by the taggers' frame names (kTagNames), else by TagLib's frame mapping, else TXXX under
// the property name. The totals are folded into TRCK and TPOS, the nine have frames of their own.
void AddExtraFrames(TagLib::ID3v2::Tag& tag, const TagRecord& tags, bool v24) {
    TagLib::PropertyMap properties;
    std::vector<std::pair<std::string, const std::vector<std::string>*>> named;
    for (const auto& [name, values] : tags.extra) {
        if (TagFieldOf(name) != nullptr || IsTotal(name)) continue;
        const TagNameRow* row = TagNameOf(name);
        if (row != nullptr && row->id3 != nullptr) {
            named.emplace_back(name, &values);
            continue;
        }
        TagLib::StringList list;
        for (const std::string& value : values) {
            if (!value.empty()) list.append(Utf8(value));
        }
        if (!list.isEmpty()) properties.insert(Utf8(name), list);
    }
    // setProperties replaces what the tag holds: first. Names TagLib refuses come back as TXXX frames.
    if (!properties.isEmpty()) {
        // Fields TagLib gives frames that ID3v2.3 lacks (TPRO, TDRL, TDTG, TDEN) would be dropped when the
        // tag is rendered: they go to TXXX there.
        TagLib::PropertyMap v24Only;
        if (!v24) {
            for (const char* key : {"PRODUCEDNOTICE", "RELEASEDATE", "TAGGINGDATE", "ENCODINGTIME"}) {
                if (properties.contains(key)) v24Only.insert(key, properties[key]);
                properties.erase(key);
            }
        }
        TagLib::PropertyMap refused = tag.setProperties(properties);
        for (const auto& [name, values] : v24Only) refused.insert(name, values);
        for (const auto& [name, values] : refused) {
            std::vector<std::string> texts;
            for (const TagLib::String& value : values) texts.push_back(value.to8Bit(true));
            AddUserText(tag, name.to8Bit(true), texts, v24);
        }
    }
    for (const auto& [name, values] : named) {
        const std::string_view id = TagNameOf(name)->id3;
        if (name == "DISCNUMBER") {
            AddText(tag, "TPOS", {NumberWithTotal(values->front(), tags.Extra("DISCTOTAL"))}, v24);
        } else if (id.substr(0, 5) == "TXXX:") {
            AddUserText(tag, std::string(id.substr(5)), *values, v24);
        } else if (id.substr(0, 5) == "UFID:") {
            const std::string& value = values->front();
            tag.addFrame(new TagLib::ID3v2::UniqueFileIdentifierFrame(
                Utf8(id.substr(5)), TagLib::ByteVector(value.data(), static_cast<unsigned int>(value.size()))));
        } else if (!v24 && OnlyInVersion4(id)) {
            AddUserText(tag, name, *values, v24);
        } else {
            AddText(tag, std::string(id).c_str(), *values, v24);
        }
    }
}

void AddPictures(TagLib::ID3v2::Tag& tag, const TagRecord& tags, bool v24) {
    for (const TagPicture& picture : tags.pictures) {
        if (picture.data.empty() || picture.data.size() > kMaxPictureBytes) continue;
        auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        frame->setTextEncoding(EncodingFor(picture.description, v24));
        frame->setMimeType(Utf8(picture.mimeType.empty() ? "image/jpeg" : picture.mimeType));
        frame->setDescription(Utf8(picture.description));
        frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(
            picture.type >= 0 && picture.type <= 20 ? picture.type : 0));
        frame->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(picture.data.data()),
                                             static_cast<unsigned int>(picture.data.size())));
        tag.addFrame(frame.release());
    }
}

std::vector<uint8_t> RenderVersion2(const TagRecord& tags, bool v24) {
    TagLib::ID3v2::Tag tag;
    AddExtraFrames(tag, tags, v24);
    const auto text = [&tag, v24](const char* id, const std::vector<std::string>& values) {
        AddText(tag, id, values, v24);
    };
    text("TIT2", {tags.Title});
    text("TPE1", tags.Values("ARTIST"));
    text("TALB", {tags.Album});
    if (v24) {
        text("TDRC", {tags.Year});
    } else {
        // TYER holds the year alone; a full date's day and month go to TDAT, its time to TIME.
        const bool isoDate = tags.Year.size() > 4 && tags.Year[4] == '-';
        text("TYER", {isoDate ? tags.Year.substr(0, 4) : tags.Year});
        if (const auto dayMonth = DayAndMonth(tags.Year)) text("TDAT", {*dayMonth});
        if (const auto time = HourAndMinute(tags.Year)) text("TIME", {*time});
    }
    text("TCON", tags.Values("GENRE"));
    // A comment frame for a comment, or for the empty one the user gave.
    if (!tags.Comment.empty() || tags.commentGiven) {
        auto comment = std::make_unique<TagLib::ID3v2::CommentsFrame>(EncodingFor(tags.Comment, v24));
        comment->setLanguage(TagLib::ByteVector("XXX", 3));
        comment->setDescription(TagLib::String());
        comment->setText(Utf8(tags.Comment));
        tag.addFrame(comment.release());
    }
    text("TCOM", tags.Values("COMPOSER"));
    text("TCOP", {tags.Copyright});

    const int track = TrackNumber(tags.Track);
    if (track > 0) text("TRCK", {NumberWithTotal(std::to_string(track), tags.Extra("TRACKTOTAL"))});
    AddPictures(tag, tags, v24);

    const TagLib::ByteVector bytes = tag.render(v24 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3);
    if (bytes.isEmpty() || bytes.size() > kMaxId3v2Bytes) return {};
    return {bytes.begin(), bytes.end()};
}

TagLib::String Latin1(std::string_view text) { return TagLib::String(Utf8ToLatin1(text), TagLib::String::Latin1); }

std::vector<uint8_t> RenderVersion1(const TagRecord& tags) {
    TagLib::ID3v1::Tag tag;
    tag.setTitle(Latin1(tags.Title));
    tag.setArtist(Latin1(tags.Artist));
    tag.setAlbum(Latin1(tags.Album));
    tag.setComment(Latin1(tags.Comment));
    const int year = TrackNumber(tags.Year);
    tag.setYear(year > 0 ? static_cast<unsigned int>(year) : 0);
    tag.setGenreNumber(static_cast<unsigned int>(GenreIndex(tags.Genre)));
    tag.setTrack(static_cast<unsigned int>(TrackNumber(tags.Track) & 0xFF));
    const TagLib::ByteVector bytes = tag.render();
    if (bytes.size() != 128) return {};
    return {bytes.begin(), bytes.end()};
}

}  // namespace

std::string Utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (cp < 0x10000) {
            out += static_cast<char16_t>(cp);
        } else {
            const char32_t v = cp - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        }
    }
    return out;
}

size_t Id3v2BlockSize(const uint8_t* data, size_t available) {
    const std::optional<Id3v2Header> header = ParseId3v2Header(data, available);
    return header && header->totalSize() <= available ? header->totalSize() : 0;
}

bool IsId3v1Block(const uint8_t* block) {
    return block != nullptr && block[0] == 'T' && block[1] == 'A' && block[2] == 'G';
}

std::vector<uint8_t> BuildId3Tag(int version, const TagRecord& tags) {
    if (version == 1) return RenderVersion1(tags);
    if (version == 2 || version == 3) return RenderVersion2(tags, false);
    if (version == 4) return RenderVersion2(tags, true);
    return {};
}

}  // namespace pelloran
