#include "encode/Id3Tag.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>

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

// ASCII as Latin-1, anything else as UTF-16 (ID3v2.3 has no UTF-8).
TagLib::String::Type EncodingFor(std::string_view text) {
    return IsAscii(text) ? TagLib::String::Latin1 : TagLib::String::UTF16;
}

void AddText(TagLib::ID3v2::Tag& tag, const char* id, const std::string& text) {
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(TagLib::ByteVector(id, 4),
                                                                          EncodingFor(text));
    frame->setText(Utf8(text));
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

// Fields of extra by TagLib's frame mapping (TXXX for names it has no frame for). The totals are folded into
// TRCK and TPOS, the nine have frames of their own.
void AddExtraFrames(TagLib::ID3v2::Tag& tag, const TagRecord& tags) {
    TagLib::PropertyMap properties;
    for (const auto& [name, values] : tags.extra) {
        if (TagFieldOf(name) != nullptr || name == "TRACKTOTAL" || name == "TOTALTRACKS" || name == "DISCTOTAL" ||
            name == "TOTALDISCS")
            continue;
        TagLib::StringList list;
        for (const std::string& value : values) {
            if (name == "DISCNUMBER") list.append(Utf8(NumberWithTotal(value, tags.Extra("DISCTOTAL"))));
            else if (!value.empty()) list.append(Utf8(value));
        }
        if (!list.isEmpty()) properties.insert(Utf8(name), list);
    }
    if (properties.isEmpty()) return;
    // Frames that ID3v2.3 lacks would be dropped when the tag is rendered: their fields go to TXXX instead.
    TagLib::PropertyMap v24Only;
    for (const auto& [name, values] : properties) {
        // TMOO, TPRO, TSOA, TSOP, TSOT, TSST, TDRL, TDTG, TDEN
        for (const char* key : {"MOOD", "PRODUCEDNOTICE", "ALBUMSORT", "ARTISTSORT", "TITLESORT", "DISCSUBTITLE",
                                "RELEASEDATE", "TAGGINGDATE", "ENCODINGTIME"}) {
            if (name == key) v24Only.insert(name, values);
        }
    }
    for (const auto& [name, values] : v24Only) properties.erase(name);
    // Names TagLib refuses come back; they are kept as TXXX frames too.
    TagLib::PropertyMap refused = tag.setProperties(properties);
    for (const auto& [name, values] : v24Only) refused.insert(name, values);
    for (const auto& [name, values] : refused) {
        auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::UTF16);
        frame->setDescription(name);
        frame->setText(values);
        tag.addFrame(frame.release());
    }
}

void AddPictures(TagLib::ID3v2::Tag& tag, const TagRecord& tags) {
    for (const TagPicture& picture : tags.pictures) {
        if (picture.data.empty() || picture.data.size() > kMaxPictureBytes) continue;
        auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        frame->setTextEncoding(EncodingFor(picture.description));
        frame->setMimeType(Utf8(picture.mimeType.empty() ? "image/jpeg" : picture.mimeType));
        frame->setDescription(Utf8(picture.description));
        frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(
            picture.type >= 0 && picture.type <= 20 ? picture.type : 0));
        frame->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(picture.data.data()),
                                             static_cast<unsigned int>(picture.data.size())));
        tag.addFrame(frame.release());
    }
}

std::vector<uint8_t> RenderVersion2(const TagRecord& tags) {
    TagLib::ID3v2::Tag tag;
    // Extra fields first: setProperties replaces what the tag holds.
    AddExtraFrames(tag, tags);
    const auto text = [&tag](const char* id, const std::string& value) {
        if (!value.empty()) AddText(tag, id, value);
    };
    text("TIT2", tags.Title);
    text("TPE1", tags.Artist);
    text("TALB", tags.Album);
    // TYER holds the year alone; a full date's day and month go to TDAT.
    const bool isoDate = tags.Year.size() > 4 && tags.Year[4] == '-';
    text("TYER", isoDate ? tags.Year.substr(0, 4) : tags.Year);
    if (const auto dayMonth = DayAndMonth(tags.Year)) text("TDAT", *dayMonth);
    text("TCON", tags.Genre);
    // A comment frame even for an empty comment.
    auto comment = std::make_unique<TagLib::ID3v2::CommentsFrame>(EncodingFor(tags.Comment));
    comment->setLanguage(TagLib::ByteVector("XXX", 3));
    comment->setDescription(TagLib::String());
    comment->setText(Utf8(tags.Comment));
    tag.addFrame(comment.release());
    text("TCOM", tags.Composer);
    text("TCOP", tags.Copyright);

    const int track = TrackNumber(tags.Track) & 0xFF;
    if (track != 0) text("TRCK", NumberWithTotal(std::to_string(track), tags.Extra("TRACKTOTAL")));
    AddPictures(tag, tags);

    const TagLib::ByteVector bytes = tag.render(TagLib::ID3v2::v3);
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
    if (version == 2) return RenderVersion2(tags);
    return {};
}

}  // namespace pelloran
