#include <gtest/gtest.h>

#include <filesystem>

#include "app/FileList.h"
#include "app/Shortcut.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::PutU16LE;
using test::PutU32LE;
using test::TempDir;

void PutUtf16Z(std::vector<uint8_t>& out, const std::string& ascii) {
    for (char c : ascii) PutU16LE(out, static_cast<uint8_t>(c));
    PutU16LE(out, 0);
}

struct LinkSpec {
    std::string localBase;     // LinkInfo local base path; empty: no LinkInfo
    std::string suffix;        // common path suffix
    bool unicodeInfo = false;  // LinkInfo carries UTF-16 copies of the paths
    std::string relative;      // relative path string; empty: none
    bool unicodeStrings = true;
    size_t idListSize = 0;
};

LinkSpec Spec(std::string local, std::string suffix = "", bool unicodeInfo = false, std::string relative = "",
              bool unicodeStrings = true, size_t idListSize = 0) {
    return LinkSpec{std::move(local), std::move(suffix), unicodeInfo, std::move(relative), unicodeStrings, idListSize};
}

// A shortcut file laid out as Windows writes it.
std::vector<uint8_t> MakeLink(const LinkSpec& spec) {
    std::vector<uint8_t> out;
    uint32_t flags = 0;
    if (spec.idListSize) flags |= 0x1;
    if (!spec.localBase.empty()) flags |= 0x2;
    if (!spec.relative.empty()) flags |= 0x8;
    if (spec.unicodeStrings) flags |= 0x80;
    PutU32LE(out, 0x4C);
    for (uint8_t b : {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46})
        out.push_back(b);
    PutU32LE(out, flags);
    PutU32LE(out, 0x20);                        // file attributes
    for (int i = 0; i < 6; ++i) PutU32LE(out, 0);  // three times
    PutU32LE(out, 1234);                        // target size
    PutU32LE(out, 0);                           // icon index
    PutU32LE(out, 1);                           // show command
    PutU16LE(out, 0);                           // hot key
    PutU16LE(out, 0);
    PutU32LE(out, 0);
    PutU32LE(out, 0);
    if (spec.idListSize) {
        PutU16LE(out, static_cast<uint16_t>(spec.idListSize));
        out.insert(out.end(), spec.idListSize, 0);
    }
    if (!spec.localBase.empty()) {
        const uint32_t headerSize = spec.unicodeInfo ? 0x24 : 0x1C;
        std::vector<uint8_t> volume;
        PutU32LE(volume, 0x11);  // volume id size
        PutU32LE(volume, 3);     // fixed drive
        PutU32LE(volume, 0xABCD);
        PutU32LE(volume, 0x10);  // label offset
        volume.push_back(0);
        const uint32_t volumeOffset = headerSize;
        const uint32_t baseOffset = volumeOffset + static_cast<uint32_t>(volume.size());
        const uint32_t suffixOffset = baseOffset + static_cast<uint32_t>(spec.localBase.size() + 1);
        const uint32_t baseOffsetW = suffixOffset + static_cast<uint32_t>(spec.suffix.size() + 1);
        const uint32_t suffixOffsetW = baseOffsetW + static_cast<uint32_t>((spec.localBase.size() + 1) * 2);
        std::vector<uint8_t> body = volume;
        // The ANSI copies are garbled when Unicode copies exist, so a test sees which one is read.
        for (char c : spec.localBase) body.push_back(spec.unicodeInfo ? '?' : static_cast<uint8_t>(c));
        body.push_back(0);
        for (char c : spec.suffix) body.push_back(static_cast<uint8_t>(c));
        body.push_back(0);
        if (spec.unicodeInfo) {
            PutUtf16Z(body, spec.localBase);
            PutUtf16Z(body, spec.suffix);
        }
        const uint32_t total = headerSize + static_cast<uint32_t>(body.size());
        PutU32LE(out, total);
        PutU32LE(out, headerSize);
        PutU32LE(out, 1);  // volume id and local base path
        PutU32LE(out, volumeOffset);
        PutU32LE(out, baseOffset);
        PutU32LE(out, 0);  // no network part
        PutU32LE(out, suffixOffset);
        if (spec.unicodeInfo) {
            PutU32LE(out, baseOffsetW);
            PutU32LE(out, suffixOffsetW);
        }
        out.insert(out.end(), body.begin(), body.end());
    }
    if (!spec.relative.empty()) {
        PutU16LE(out, static_cast<uint16_t>(spec.relative.size()));
        for (char c : spec.relative) {
            if (spec.unicodeStrings) PutU16LE(out, static_cast<uint8_t>(c));
            else out.push_back(static_cast<uint8_t>(c));
        }
    }
    return out;
}

std::string WindowsForm(const std::string& posixPath) {
    std::string out = "Z:" + posixPath;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

TEST(Shortcut, ReadsLocalPathInAnsiAndUnicodeForms) {
    ShortcutInfo info;
    auto ansi = MakeLink(Spec("C:\\Music\\Rock\\a.mp3", "", false, "", true, 20));
    ASSERT_TRUE(ParseShortcut(ansi.data(), ansi.size(), info));
    EXPECT_EQ(info.localPath, "C:\\Music\\Rock\\a.mp3");

    auto wide = MakeLink(Spec("D:\\Share", "b.wav", true));
    ASSERT_TRUE(ParseShortcut(wide.data(), wide.size(), info));
    EXPECT_EQ(info.localPath, "D:\\Share\\b.wav");

    auto relative = MakeLink(Spec("", "", false, "..\\c.ogg", false));
    ASSERT_TRUE(ParseShortcut(relative.data(), relative.size(), info));
    EXPECT_EQ(info.relativePath, "..\\c.ogg");
    EXPECT_TRUE(info.localPath.empty());
}

TEST(Shortcut, RefusesDamagedFilesWithoutReadingOutside) {
    const auto good = MakeLink(Spec("C:\\x\\song.wav", "", true, "song.wav", true, 8));
    ShortcutInfo info;
    ASSERT_TRUE(ParseShortcut(good.data(), good.size(), info));
    // Every truncation is refused; each copy is exactly as long as the truncation so ASan sees overreads.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_FALSE(ParseShortcut(cut.data(), cut.size(), info)) << n;
    }
    // Sizes and offsets that point past the end.
    auto bigIdList = good;
    bigIdList[76] = 0xFF;
    bigIdList[77] = 0xFF;
    EXPECT_FALSE(ParseShortcut(bigIdList.data(), bigIdList.size(), info));
    const size_t linkInfo = 76 + 2 + 8;
    for (size_t field : {0, 4, 28, 32}) {
        auto bad = good;
        bad[linkInfo + field + 3] = 0x7F;
        EXPECT_FALSE(ParseShortcut(bad.data(), bad.size(), info)) << field;
    }
    const auto ansi = MakeLink(Spec("C:\\x\\song.wav"));
    for (size_t field : {16, 24}) {
        auto bad = ansi;
        bad[76 + field + 3] = 0x7F;
        EXPECT_FALSE(ParseShortcut(bad.data(), bad.size(), info)) << field;
    }
    // A string without its terminator inside the LinkInfo.
    auto unterminated = MakeLink(Spec("C:\\a.wav"));
    unterminated[unterminated.size() - 1] = 'x';
    unterminated[unterminated.size() - 2] = 'x';
    EXPECT_FALSE(ParseShortcut(unterminated.data(), unterminated.size(), info));
    // Not a shortcut at all.
    auto wrongClass = good;
    wrongClass[4] ^= 1;
    EXPECT_FALSE(ParseShortcut(wrongClass.data(), wrongClass.size(), info));
    EXPECT_FALSE(ParseShortcut(nullptr, 0, info));
}

TEST(Shortcut, MapsWindowsPaths) {
    EXPECT_EQ(MapWindowsPath("Z:\\home\\ana\\a.mp3"), "/home/ana/a.mp3");
    EXPECT_EQ(MapWindowsPath("/already/posix.wav"), "/already/posix.wav");
    EXPECT_EQ(MapWindowsPath("\\\\server\\share\\a.wav"), "");
    EXPECT_EQ(MapWindowsPath("relative\\a.wav"), "");

    TempDir home;
    std::filesystem::create_directories(home.path() / "dosdevices");
    std::filesystem::create_directories(home.path() / "drive_c" / "Music");
    std::filesystem::create_directory_symlink(home.path() / "drive_c", home.path() / "dosdevices" / "c:");
    setenv("WINEPREFIX", home.path().c_str(), 1);
    EXPECT_EQ(MapWindowsPath("C:\\Music\\a.wav"), (home.path() / "dosdevices" / "c:").string() + "/Music/a.wav");
    EXPECT_EQ(MapWindowsPath("D:\\a.wav"), "");  // no such drive
    unsetenv("WINEPREFIX");
}

TEST(Shortcut, ResolvesToAnExistingTargetOnly) {
    TempDir dir;
    const std::string song = dir / "song.wav";
    test::WriteBytes(song, {1, 2, 3});
    std::string target;

    test::WriteBytes(dir / "local.lnk", MakeLink(Spec(WindowsForm(song))));
    EXPECT_TRUE(ResolveShortcut(dir / "local.lnk", target));
    EXPECT_EQ(target, song);

    // The local path leads nowhere here; the relative path from the shortcut's folder does.
    std::filesystem::create_directory(dir.path() / "links");
    test::WriteBytes(dir / "links/rel.lnk", MakeLink(Spec("C:\\Elsewhere\\song.wav", "", false, "..\\song.wav")));
    EXPECT_TRUE(ResolveShortcut(dir / "links/rel.lnk", target));
    EXPECT_EQ(target, song);

    test::WriteBytes(dir / "gone.lnk", MakeLink(Spec(WindowsForm(dir / "missing.wav"))));
    EXPECT_FALSE(ResolveShortcut(dir / "gone.lnk", target));
    EXPECT_TRUE(target.empty());
    EXPECT_FALSE(ResolveShortcut(dir / "no-such.lnk", target));
    EXPECT_FALSE(ResolveShortcut(dir.path().string(), target));  // a folder
}

TEST(Shortcut, FilterStepFollowsShortcutsAndCutsCycles) {
    TempDir dir;
    const std::string song = dir / "Song.MP3";
    test::WriteBytes(song, {1});
    test::WriteBytes(dir / "one.lnk", MakeLink(Spec(WindowsForm(song))));
    test::WriteBytes(dir / "two.lnk", MakeLink(Spec(WindowsForm(dir / "one.lnk"))));
    // Two shortcuts pointing at each other.
    test::WriteBytes(dir / "a.lnk", MakeLink(Spec(WindowsForm(dir / "b.lnk"))));
    test::WriteBytes(dir / "b.lnk", MakeLink(Spec(WindowsForm(dir / "a.lnk"))));

    ConvertSettings settings;
    settings.EnableExtFilter = 1;
    settings.FilterExts = "mp3";
    RebuildExtensionFilter(settings);

    std::string path = dir / "two.lnk";
    EXPECT_TRUE(FilterStep(path, settings));
    EXPECT_EQ(path, song);
    path = dir / "a.lnk";
    EXPECT_FALSE(FilterStep(path, settings));

    std::vector<std::string> found;
    ScanFolder(found, dir.path().string(), settings);
    EXPECT_EQ(found, (std::vector<std::string>{song, song, song}));  // Song.MP3 itself, one.lnk, two.lnk

    // With the filter off a shortcut is taken as it is.
    settings.EnableExtFilter = 0;
    RebuildExtensionFilter(settings);
    path = dir / "one.lnk";
    EXPECT_TRUE(FilterStep(path, settings));
    EXPECT_EQ(path, dir / "one.lnk");
}

}  // namespace
}  // namespace pelloran
