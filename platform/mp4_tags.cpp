#include "platform/mp4_tags.h"

#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/tpropertymap.h>

#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace pelloran {

namespace {

TagLib::String Utf8(const std::string& text) { return TagLib::String(text, TagLib::String::UTF8); }

// "n/total" for trkn and disk, which hold both numbers.
std::string WithTotal(const std::string& number, const std::string& total) {
    if (number.empty() || total.empty() || number.find('/') != std::string::npos) return number;
    return number + "/" + total;
}

bool IsTotal(const std::string& name) {
    return name == "TRACKTOTAL" || name == "TOTALTRACKS" || name == "DISCTOTAL" || name == "TOTALDISCS";
}

// The freeform name the taggers give a property ("MusicBrainz Album Id"), or null when it has an atom or none.
const char* FreeformName(const std::string& property) {
    const TagNameRow* row = TagNameOf(property);
    const std::string_view prefix = "----:com.apple.iTunes:";
    if (row == nullptr || row->mp4 == nullptr || std::string_view(row->mp4).substr(0, prefix.size()) != prefix)
        return nullptr;
    return row->mp4 + prefix.size();
}

TagLib::StringList List(const std::vector<std::string>& values) {
    TagLib::StringList list;
    for (const std::string& value : values) {
        if (!value.empty()) list.append(Utf8(value));
    }
    return list;
}

// Fields with an atom, by TagLib's mapping; freeform ones are written by their taggers' names.
TagLib::PropertyMap Properties(const TagRecord& tags) {
    TagLib::PropertyMap map;
    const auto put = [&map](const std::string& name, const std::vector<std::string>& values) {
        const TagLib::StringList list = List(values);
        if (!list.isEmpty()) map.insert(Utf8(name), list);
    };
    for (const auto& [name, values] : tags.extra) {
        if (TagFieldOf(name) != nullptr || IsTotal(name) || FreeformName(name) != nullptr || values.empty()) continue;
        if (name == "DISCNUMBER") put(name, {WithTotal(values.front(), tags.Extra("DISCTOTAL"))});
        else put(name, values);
    }
    for (const TagFieldName& f : kTagFieldNames) {
        if (f.field == &TagRecord::Track) {
            // The item holds 16-bit numbers.
            const int track = TrackNumber(tags.Track);
            if (track > 0) put(f.name, {WithTotal(std::to_string(track > 0xFFFF ? 0xFFFF : track), tags.Extra("TRACKTOTAL"))});
        } else {
            put(f.name, tags.Values(f.name));
        }
    }
    return map;
}

TagLib::MP4::CoverArtList Covers(const TagRecord& tags) {
    TagLib::MP4::CoverArtList list;
    for (const TagPicture& picture : tags.pictures) {
        if (picture.data.empty() || picture.data.size() > kMaxPictureBytes) continue;
        const std::string type = SniffImageType(picture.data);
        TagLib::MP4::CoverArt::Format format;
        if (type == "image/jpeg") format = TagLib::MP4::CoverArt::JPEG;
        else if (type == "image/png") format = TagLib::MP4::CoverArt::PNG;
        else if (type == "image/bmp") format = TagLib::MP4::CoverArt::BMP;
        else if (type == "image/gif") format = TagLib::MP4::CoverArt::GIF;
        else continue;
        list.append(TagLib::MP4::CoverArt(format, TagLib::ByteVector(reinterpret_cast<const char*>(picture.data.data()),
                                                                     static_cast<unsigned int>(picture.data.size()))));
    }
    return list;
}

}  // namespace

std::string ItunesGaplessText(const Mp4Gapless& g) {
    char text[160];
    std::snprintf(text, sizeof text, " 00000000 %08" PRIX32 " %08" PRIX32 " %016" PRIX64
                  " 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000",
                  static_cast<uint32_t>(g.delay), static_cast<uint32_t>(g.padding), g.samples);
    return text;
}

bool WriteMp4Tags(const std::string& path, const TagRecord& tags, const Mp4Gapless& gapless) {
    TagLib::MP4::File file(path.c_str(), false);
    TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (tag == nullptr) return false;
    // Names TagLib has no atom for become freeform items.
    const TagLib::PropertyMap refused = tag->setProperties(Properties(tags));
    for (const auto& [name, values] : refused) tag->setItem("----:com.apple.iTunes:" + name, TagLib::MP4::Item(values));
    for (const auto& [name, values] : tags.extra) {
        const char* freeform = FreeformName(name);
        const TagLib::StringList list = List(values);
        if (freeform != nullptr && !list.isEmpty())
            tag->setItem(TagLib::String("----:com.apple.iTunes:") + Utf8(freeform), TagLib::MP4::Item(list));
    }
    const TagLib::MP4::CoverArtList covers = Covers(tags);
    if (!covers.isEmpty()) tag->setItem("covr", TagLib::MP4::Item(covers));
    if (gapless.delay > 0 || gapless.padding > 0) {
        tag->setItem("----:com.apple.iTunes:iTunSMPB",
                     TagLib::MP4::Item(TagLib::StringList(TagLib::String(ItunesGaplessText(gapless)))));
    }
    return file.save();
}

}  // namespace pelloran
