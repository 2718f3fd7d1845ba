#include "platform/TagReader.h"

#include <taglib/fileref.h>
#include <taglib/tfile.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
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

std::string FirstValue(const TagLib::PropertyMap& properties, const char* key) {
    auto it = properties.find(key);
    if (it == properties.end() || it->second.isEmpty()) return {};
    return it->second.front().to8Bit(true);
}

// Size of the ID3v2 tag whose header is at p (header, body and footer), or 0 when p holds no header.
uint64_t Id3v2TagSize(const uint8_t (&p)[kId3v2HeaderBytes]) {
    const std::optional<Id3v2Header> header = ParseId3v2Header(p, sizeof p);
    return header ? header->totalSize() : 0;
}

}  // namespace

bool ReadTagLibTags(const File& file, const std::string& name, TagRecord& tags) {
    FileStream stream(file, name);
    TagLib::FileRef ref(&stream, false);
    if (ref.isNull() || !ref.file()->isValid()) return false;
    const TagLib::PropertyMap properties = ref.file()->properties();
    struct Key {
        const char* name;
        std::string TagRecord::*field;
    };
    static constexpr Key kKeys[] = {
        {"TRACKNUMBER", &TagRecord::Track}, {"TITLE", &TagRecord::Title},       {"ARTIST", &TagRecord::Artist},
        {"ALBUM", &TagRecord::Album},       {"GENRE", &TagRecord::Genre},       {"DATE", &TagRecord::Year},
        {"COMMENT", &TagRecord::Comment},   {"COMPOSER", &TagRecord::Composer}, {"COPYRIGHT", &TagRecord::Copyright},
    };
    TagRecord found;
    for (const Key& key : kKeys) found.*(key.field) = FirstValue(properties, key.name);
    // Vorbis comments name the comment field DESCRIPTION.
    if (found.Comment.empty()) found.Comment = FirstValue(properties, "DESCRIPTION");
    if (found.Empty()) return false;
    tags = std::move(found);
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
