#include "platform/TagWriter.h"

#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "media/ReplayGain.h"
#include "media/TagRecord.h"
#include "platform/Paths.h"

namespace pelloran {

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;  // upper-case names and their texts

TagLib::String Utf8(const std::string& text) { return TagLib::String(text, TagLib::String::UTF8); }

// The ReplayGain fields of values, as the common scanners write them.
Fields ReplayGainFields(const GainTagValues& values) {
    Fields fields;
    if (values.trackLufs) {
        fields.emplace_back("REPLAYGAIN_TRACK_GAIN", ReplayGainText(ReplayGainDb(*values.trackLufs)));
        fields.emplace_back("REPLAYGAIN_TRACK_PEAK", ReplayPeakText(values.trackPeak));
    }
    if (values.albumLufs) {
        fields.emplace_back("REPLAYGAIN_ALBUM_GAIN", ReplayGainText(ReplayGainDb(*values.albumLufs)));
        fields.emplace_back("REPLAYGAIN_ALBUM_PEAK", ReplayPeakText(values.albumPeak));
    }
    if (!fields.empty()) fields.emplace_back("REPLAYGAIN_REFERENCE_LOUDNESS", ReferenceLoudnessText());
    return fields;
}

// Opus players apply R128 gains on top of the header's output gain (which our writer leaves at 0).
Fields R128Fields(const GainTagValues& values) {
    Fields fields;
    if (values.trackLufs) fields.emplace_back("R128_TRACK_GAIN", R128GainText(*values.trackLufs));
    if (values.albumLufs) fields.emplace_back("R128_ALBUM_GAIN", R128GainText(*values.albumLufs));
    return fields;
}

// A gain field of any tag format, in any case: REPLAYGAIN_*, R128_*, and the MP4 freeform items of them.
bool IsGainField(std::string name) {
    name = ToUpperAscii(name);
    constexpr std::string_view kFreeform = "----:COM.APPLE.ITUNES:";
    if (name.rfind(kFreeform, 0) == 0) name.erase(0, kFreeform.size());
    return name.rfind("REPLAYGAIN_", 0) == 0 || name.rfind("R128_", 0) == 0;
}

void UpdateXiph(TagLib::Ogg::XiphComment& comment, const Fields& fields) {
    std::vector<TagLib::String> old;
    for (const auto& [key, list] : comment.fieldListMap()) {
        if (IsGainField(key.to8Bit(true))) old.push_back(key);
    }
    for (const auto& key : old) comment.removeFields(key);
    for (const auto& [name, text] : fields) comment.addField(Utf8(name), Utf8(text), true);
}

void UpdateId3v2(TagLib::ID3v2::Tag& tag, const Fields& fields) {
    std::vector<TagLib::ID3v2::Frame*> old;
    for (TagLib::ID3v2::Frame* frame : tag.frameList("TXXX")) {
        const auto* text = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame);
        if (text != nullptr && IsGainField(text->description().to8Bit(true))) old.push_back(frame);
    }
    for (TagLib::ID3v2::Frame* frame : old) tag.removeFrame(frame, true);
    for (const auto& [name, text] : fields) {
        auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::UTF8);
        frame->setDescription(Utf8(name));
        frame->setText(Utf8(text));
        tag.addFrame(frame.release());
    }
}

// The version an existing ID3v2 tag has (3 or 4), so that a v2.3 file stays one.
TagLib::ID3v2::Version VersionOf(TagLib::ID3v2::Tag* tag) {
    return tag != nullptr && tag->header()->majorVersion() == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
}

bool SaveMpeg(const std::string& path, const Fields& fields) {
    TagLib::MPEG::File file(path.c_str(), false);
    if (!file.isValid()) return false;
    const TagLib::ID3v2::Version version = VersionOf(file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr);
    UpdateId3v2(*file.ID3v2Tag(true), fields);
    return file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone, version, TagLib::File::DoNotDuplicate);
}

bool SaveWav(const std::string& path, const Fields& fields) {
    TagLib::RIFF::WAV::File file(path.c_str(), false);
    if (!file.isValid()) return false;
    const TagLib::ID3v2::Version version = VersionOf(file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr);
    UpdateId3v2(*file.ID3v2Tag(), fields);
    return file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, version);
}

bool SaveMp4(const std::string& path, const Fields& fields) {
    TagLib::MP4::File file(path.c_str(), false);
    if (!file.isValid() || file.tag() == nullptr) return false;
    TagLib::MP4::Tag& tag = *file.tag();
    std::vector<TagLib::String> old;
    for (const auto& [key, item] : tag.itemMap()) {
        if (key.startsWith("----:") && IsGainField(key.to8Bit(true))) old.push_back(key);
    }
    for (const auto& key : old) tag.removeItem(key);
    // Lower-case names, as most MP4 taggers write them.
    for (const auto& [name, text] : fields)
        tag.setItem(Utf8("----:com.apple.iTunes:" + ToLowerAscii(name)), TagLib::MP4::Item(TagLib::StringList(Utf8(text))));
    return file.save();
}

bool SaveAsf(const std::string& path, const Fields& fields) {
    TagLib::ASF::File file(path.c_str(), false);
    if (!file.isValid() || file.tag() == nullptr) return false;
    TagLib::ASF::Tag& tag = *file.tag();
    std::vector<TagLib::String> old;
    for (const auto& [name, list] : tag.attributeListMap()) {
        if (IsGainField(name.to8Bit(true))) old.push_back(name);
    }
    for (const auto& name : old) tag.removeItem(name);
    for (const auto& [name, text] : fields) tag.setAttribute(Utf8(ToLowerAscii(name)), TagLib::ASF::Attribute(Utf8(text)));
    return file.save();
}

template <class OggFile>
bool SaveOgg(const std::string& path, const Fields& fields) {
    OggFile file(path.c_str(), false);
    if (!file.isValid() || file.tag() == nullptr) return false;
    UpdateXiph(*file.tag(), fields);
    return file.save();
}

bool SaveFlac(const std::string& path, const Fields& fields) {
    TagLib::FLAC::File file(path.c_str(), false);
    if (!file.isValid()) return false;
    UpdateXiph(*file.xiphComment(true), fields);
    return file.save();
}

// RF64 and BW64 files TagLib does not read: they keep no tags rather than fail.
bool IsRiffWave(const std::string& path) {
    char magic[4] = {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    const bool read = std::fread(magic, 1, 4, f) == 4;
    std::fclose(f);
    return read && std::string_view(magic, 4) == "RIFF";
}

}  // namespace

GainTagResult WriteGainTags(const std::string& path, const GainTagValues& values) {
    const std::string ext = ToLowerAscii(ExtensionPart(path));
    bool saved = false;
    if (ext == ".opus") {
        saved = SaveOgg<TagLib::Ogg::Opus::File>(path, R128Fields(values));
    } else {
        const Fields fields = ReplayGainFields(values);
        if (ext == ".flac") saved = SaveFlac(path, fields);
        else if (ext == ".ogg" || ext == ".oga") saved = SaveOgg<TagLib::Ogg::Vorbis::File>(path, fields);
        else if (ext == ".mp3") saved = SaveMpeg(path, fields);
        else if (ext == ".m4a" || ext == ".mp4" || ext == ".m4b") saved = SaveMp4(path, fields);
        else if (ext == ".wma") saved = SaveAsf(path, fields);
        else if (ext == ".wav" && IsRiffWave(path)) saved = SaveWav(path, fields);
        else return GainTagResult::NoTags;
    }
    return saved ? GainTagResult::Written : GainTagResult::Failed;
}

}  // namespace pelloran
