#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "app/OutputNaming.h"
#include "frontend/Wording.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::TempDir;

class OutputNaming : public ::testing::Test {
protected:
    void SetUp() override {
        // The documents fallback lands inside the scratch folder, never in the real home.
        savedHome_ = std::getenv("HOME") ? std::getenv("HOME") : "";
        setenv("HOME", dir_.path().c_str(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        settings_.DestOutputFolderOpt = 199;
        settings_.OutputFormat = kOutputWav;
        settings_.OutputFiles2MyDocuments = 0;
    }
    void TearDown() override { setenv("HOME", savedHome_.c_str(), 1); }

    std::string Touch(const std::string& name) {
        const std::string path = dir_ / name;
        EnsureFolder(FolderPart(path), true);
        test::WriteBytes(path, {1, 2, 3});
        return path;
    }

    TempDir dir_;
    std::string savedHome_;
    ConvertSettings settings_;
};

TEST_F(OutputNaming, BesideSourceRenamesPastTheSourceItself) {
    FileItem item;
    item.sourcePath = Touch("a/song.wav");
    Note status;
    ASSERT_TRUE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(item.targetPath, dir_ / "a/song_1.wav");
    EXPECT_FALSE(FileExists(item.targetPath));  // the probe leaves nothing behind
    Touch("a/song_1.wav");
    ASSERT_TRUE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(item.targetPath, dir_ / "a/song_2.wav");
}

TEST_F(OutputNaming, OverwriteRefusesOnlyTheSourceItself) {
    settings_.TargetExistsOpt = 22;
    FileItem item;
    item.sourcePath = Touch("song.wav");
    Note status;
    EXPECT_FALSE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(NoteText(status),
              "Target file name is same as original file that can't be overwritten. Please output files to a "
              "custom folder.");
    EXPECT_TRUE(item.targetPath.empty());
    // Another file whose name differs only in letter case is not the source.
    item.sourcePath = Touch("tune.WAV");
    const std::string other = Touch("tune.wav");
    bool replaces = false;
    EXPECT_TRUE(MakeTargetPath(item, settings_, status, nullptr, &replaces));
    EXPECT_EQ(item.targetPath, other);
    EXPECT_TRUE(replaces);
    item.targetPath.clear();
    // An existing other file is kept until the new one replaces it.
    item.sourcePath = Touch("other.mp3");
    const std::string existing = Touch("other.wav");
    ASSERT_TRUE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(item.targetPath, existing);
    EXPECT_EQ(test::ReadBytes(existing).size(), 3u);
}

TEST_F(OutputNaming, SkipAndNoExtensionAndDottedFolders) {
    settings_.TargetExistsOpt = 33;
    FileItem item;
    item.sourcePath = Touch("x.y/track");
    Note status;
    ASSERT_TRUE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(item.targetPath, dir_ / "x.y/track.wav");
    item.sourcePath = Touch("b/a.wav");
    EXPECT_FALSE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(NoteText(status), "Target exists and skipped");
}

TEST_F(OutputNaming, OutputFolderWithKeptTree) {
    settings_.DestOutputFolderOpt = 399;
    settings_.DestSpecifiedFolder = dir_ / "out";
    settings_.CreateDirs = 1;
    FileItem item;
    item.sourcePath = Touch("Music/Rock/a.flac");
    Note status;
    ASSERT_TRUE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(item.targetPath, dir_ / "out" + item.sourcePath.substr(0, item.sourcePath.size() - 5) + ".wav");
    EXPECT_TRUE(IsFolder(FolderPart(item.targetPath)));
}

TEST_F(OutputNaming, EmptyOutputFolderFallsBackToDocuments) {
    settings_.DestOutputFolderOpt = 399;
    settings_.DestSpecifiedFolder = "";
    FileItem item;
    item.sourcePath = Touch("in/a.mp3");
    Note status;
    EXPECT_FALSE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(NoteText(status), "Failed to create folder \"\"");
    settings_.OutputFiles2MyDocuments = 1;
    ASSERT_TRUE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(item.targetPath, dir_ / "Documents/a.wav");
}

TEST_F(OutputNaming, UnwritableFolderGivesTheFileText) {
    // /proc takes no new files, whoever runs the test.
    settings_.DestOutputFolderOpt = 399;
    settings_.DestSpecifiedFolder = "/proc/self";
    FileItem item;
    item.sourcePath = Touch("a.mp3");
    Note status;
    EXPECT_FALSE(MakeTargetPath(item, settings_, status));
    EXPECT_EQ(NoteText(status), "Failed to create file \"/proc/self/a.wav\"");
    EXPECT_TRUE(item.targetPath.empty());
}

TEST_F(OutputNaming, ReservedNamesCountAsTaken) {
    FileItem item;
    item.sourcePath = Touch("r/a.mp3");
    TargetReservations reservations;
    Note status;
    ASSERT_TRUE(MakeTargetPath(item, settings_, status, &reservations));
    EXPECT_EQ(item.targetPath, dir_ / "r/a.wav");
    FileItem twin;
    twin.sourcePath = Touch("r/a.ogg");
    ASSERT_TRUE(MakeTargetPath(twin, settings_, status, &reservations));
    EXPECT_EQ(twin.targetPath, dir_ / "r/a_1.wav");
}

TEST(PathHelpers, PartsAndFolders) {
    EXPECT_EQ(FileNamePart("/a/b.c/d.tar.gz"), "d.tar.gz");
    EXPECT_EQ(FileNamePart("plain"), "plain");
    EXPECT_EQ(ExtensionPart("/a/b.c/d.tar.gz"), ".gz");
    EXPECT_EQ(ExtensionPart("/a/b.c/noext"), "");
    EXPECT_EQ(FolderPart("/a/b.wav"), "/a/");
    EXPECT_TRUE(SamePathIgnoreCase("/A/Song.MP3", "/a/song.mp3"));
    EXPECT_FALSE(SamePathIgnoreCase("/a/song.mp3", "/a/song.mp4"));

    TempDir dir;
    const std::string file = dir / "f";
    test::WriteBytes(file, {1});
    EXPECT_FALSE(EnsureFolder(file, true));          // a file where a folder should be
    EXPECT_FALSE(EnsureFolder(file + "/sub", true));  // a file on the way
    EXPECT_FALSE(EnsureFolder(dir / "new", false));
    EXPECT_TRUE(EnsureFolder(dir / "new/deeper/", true));
    EXPECT_TRUE(IsFolder(dir / "new/deeper"));
    EXPECT_EQ(FileSize(file), 1u);
    EXPECT_FALSE(FileSize(dir / "missing").has_value());
    EXPECT_FALSE(ProgramFolder().empty());
}

}  // namespace
}  // namespace pelloran
