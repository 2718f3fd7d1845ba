// Reading side of the MPEG-4 layer: metadata items through TagLib's MP4 support.

#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>

#include <cstdint>

#include "platform/mp4.h"

namespace pelloran {

bool ReadMp4Metadata(const std::string& path, TagRecord& tags) {
    TagLib::MP4::File file(path.c_str(), false);
    const TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (tag == nullptr) return false;
    // Item names; the first byte of most is the copyright sign. TagLib turns the numeric "gnre" item into the
    // genre's name under "\251gen".
    const std::pair<const char*, std::string TagRecord::*> items[] = {
        {"\251nam", &TagRecord::Title},   {"\251ART", &TagRecord::Artist}, {"\251alb", &TagRecord::Album},
        {"\251day", &TagRecord::Year},    {"\251gen", &TagRecord::Genre},  {"\251cmt", &TagRecord::Comment},
        {"\251wrt", &TagRecord::Composer}};
    bool found = false;
    for (const auto& [key, field] : items) {
        const TagLib::String name(key, TagLib::String::Latin1);
        if (!tag->contains(name)) continue;
        const TagLib::StringList list = tag->item(name).toStringList();
        std::string text;
        if (list.isEmpty() || !AnsiToUtf8(list.front().to8Bit(true), text)) continue;
        tags.*field = std::move(text);
        found = true;
    }
    // The item holds 16-bit numbers.
    if (tag->contains("trkn")) tags.Track = std::to_string(static_cast<uint16_t>(tag->item("trkn").toIntPair().first));
    tags.Copyright.clear();
    return found;
}

}  // namespace pelloran
