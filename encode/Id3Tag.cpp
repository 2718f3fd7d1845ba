#include "encode/Id3Tag.h"

#include <id3/tag.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/Id3v2Header.h"

namespace pelloran {

namespace {

uint32_t LoadBE32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// Largest rendered tag read back (ID3v2 frames are limited to 256 MiB); a larger tag is not written.
constexpr int64_t kMaxRenderedTag = 64 * 1024 * 1024;

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// A private file in the temporary folder, removed when the owner goes away.
class TempFile {
public:
    TempFile() {
        std::error_code ec;
        std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
        if (ec) dir = "/tmp";
        std::string name = (dir / "cvtXXXXXX").string();
        const int fd = mkstemp(name.data());
        if (fd < 0) return;
        close(fd);
        path_ = std::move(name);
    }
    ~TempFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Sets a frame's text field: ASCII (and all ID3v1 text) as Latin-1, anything else as UTF-16.
void SetText(ID3_Frame& frame, ID3_FieldID fieldId, std::string_view text, bool latin1Only) {
    ID3_Field* field = frame.GetField(fieldId);
    if (field == nullptr) return;
    if (latin1Only || IsAscii(text)) {
        const std::string bytes = latin1Only ? Utf8ToLatin1(text) : std::string(text);
        field->Set(bytes.c_str());
        return;
    }
    if (ID3_Field* enc = frame.GetField(ID3FN_TEXTENC)) enc->Set(static_cast<uint32>(ID3TE_UTF16));
    field->SetEncoding(ID3TE_UTF16);
    // id3lib writes the units high byte first after a byte-order mark of FF FE, which announces little
    // endian; handing it byte-swapped units makes the stored text agree with its mark.
    std::u16string units = Utf8ToUtf16(text);
    for (char16_t& u : units) u = static_cast<char16_t>((u << 8) | (u >> 8));
    static_assert(sizeof(char16_t) == sizeof(unicode_t));
    field->Set(reinterpret_cast<const unicode_t*>(units.c_str()));
}

void AttachText(ID3_Tag& tag, ID3_FrameID id, std::string_view text, bool latin1Only) {
    auto frame = std::make_unique<ID3_Frame>(id);
    SetText(*frame, ID3FN_TEXT, text, latin1Only);
    if (tag.AttachFrame(frame.get())) frame.release();
}

// id3lib writes an empty UTF-16 string as a bare terminator. ID3v2.3 wants a byte-order mark on every
// UTF-16 string, and some readers skip a comment frame whose empty description lacks it, so the mark is
// added there; the frame grows by two bytes, taken from the padding when there is some.
void MarkEmptyCommentDescription(std::vector<uint8_t>& tag) {
    const size_t tagEnd = Id3v2BlockSize(tag.data(), tag.size());
    if (tagEnd == 0 || tag[3] != 3 || tag[5] != 0) return;  // v2.3 without unsynchronisation or extras
    size_t commAt = 0;
    size_t pos = 10;
    while (pos + 10 <= tagEnd && tag[pos] != 0) {
        const size_t size = LoadBE32(tag.data() + pos + 4);
        const size_t data = pos + 10;
        if (size > tagEnd - data) return;
        const bool comm = tag[pos] == 'C' && tag[pos + 1] == 'O' && tag[pos + 2] == 'M' && tag[pos + 3] == 'M';
        if (comm && commAt == 0 && size >= 6 && tag[pos + 8] == 0 && tag[pos + 9] == 0 && tag[data] == 1 &&
            tag[data + 4] == 0 && tag[data + 5] == 0)
            commAt = pos;
        pos = data + size;
    }
    if (commAt == 0) return;
    const size_t padding = tagEnd - pos;

    const size_t newSize = LoadBE32(tag.data() + commAt + 4) + 2;
    for (int k = 0; k < 4; ++k) tag[commAt + 4 + k] = static_cast<uint8_t>(newSize >> (24 - 8 * k));
    const uint8_t bom[2] = {0xFF, 0xFE};
    tag.insert(tag.begin() + static_cast<std::ptrdiff_t>(commAt + 10 + 4), bom, bom + 2);
    const size_t newEnd = tagEnd + 2;
    if (padding >= 2) {
        tag.erase(tag.begin() + static_cast<std::ptrdiff_t>(newEnd - 2),
                  tag.begin() + static_cast<std::ptrdiff_t>(newEnd));
    } else {
        const size_t body = newEnd - 10;
        for (int k = 0; k < 4; ++k) tag[6 + k] = static_cast<uint8_t>((body >> (21 - 7 * k)) & 0x7F);
    }
}

std::vector<uint8_t> ReadWhole(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) return {};
    struct stat st {};
    if (fstat(fileno(f.get()), &st) != 0 || st.st_size <= 0 || st.st_size > kMaxRenderedTag) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    if (std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return {};
    return bytes;
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
    if (version != 1 && version != 2) return {};
    TempFile temp;
    if (temp.path().empty()) return {};
    const bool v1 = version == 1;
    const auto track = static_cast<uint8_t>(TrackNumber(tags.Track) & 0xFF);
    try {
        ID3_Tag tag(temp.path().c_str());
        AttachText(tag, ID3FID_TITLE, tags.Title, v1);
        AttachText(tag, ID3FID_LEADARTIST, tags.Artist, v1);
        AttachText(tag, ID3FID_ALBUM, tags.Album, v1);
        AttachText(tag, ID3FID_YEAR, tags.Year, v1);
        if (v1) {
            std::string index = "(";
            index += std::to_string(GenreIndex(tags.Genre));
            index += ')';
            AttachText(tag, ID3FID_CONTENTTYPE, index, true);
        } else {
            AttachText(tag, ID3FID_CONTENTTYPE, tags.Genre, false);
        }
        if (!tags.Composer.empty()) AttachText(tag, ID3FID_COMPOSER, tags.Composer, v1);
        if (!tags.Copyright.empty()) AttachText(tag, ID3FID_COPYRIGHT, tags.Copyright, v1);

        auto comm = std::make_unique<ID3_Frame>(ID3FID_COMMENT);
        if (ID3_Field* lang = comm->GetField(ID3FN_LANGUAGE)) lang->Set("XXX");
        if (ID3_Field* desc = comm->GetField(ID3FN_DESCRIPTION)) desc->Set("");
        SetText(*comm, ID3FN_TEXT, tags.Comment, v1);
        if (!v1 && !IsAscii(tags.Comment)) {
            // The description shares the frame's encoding.
            if (ID3_Field* desc = comm->GetField(ID3FN_DESCRIPTION)) desc->SetEncoding(ID3TE_UTF16);
        }
        if (tag.AttachFrame(comm.get())) comm.release();

        if (track != 0) AttachText(tag, ID3FID_TRACKNUM, std::to_string(track), v1);
        tag.Update(v1 ? ID3TT_ID3V1 : ID3TT_ID3V2);
    } catch (...) {
        return {};
    }
    std::vector<uint8_t> bytes = ReadWhole(temp.path());
    if (!v1) MarkEmptyCommentDescription(bytes);
    return bytes;
}

}  // namespace pelloran
