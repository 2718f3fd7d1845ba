#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/registry.h"
#include "settings/ConvertSettings.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::TempDir;

RegistryStore StoreFromText(const std::string& text) {
    RegistryStore store;
    store.Parse(text);
    return store;
}

TEST(SettingsDefaults, FirstStartWithoutStoredValues) {
    ConvertSettings s;
    LoadSettings(s, RegistryStore{});
    EXPECT_EQ(s.OutputFormat, 1000);
    EXPECT_EQ(s.TargetExistsOpt, 11);
    EXPECT_EQ(s.MP3BitRate, 128);
    EXPECT_EQ(s.WMABitRate, 128000);
    EXPECT_EQ(s.AMRMode, 6);
    EXPECT_EQ(s.MP3Tag.TitleAsFileName, 1);
    EXPECT_EQ(OutputFormatRowIndex(s.OutputFormat), 0);
    // With a documents folder the output goes there.
    if (!s.DestSpecifiedFolder.empty()) {
        EXPECT_EQ(s.DestOutputFolderOpt, 399);
    }
}

TEST(SettingsLoadChecks, OutOfRangeValuesAreCorrected) {
    const std::string key = kOptionsKey;
    RegistryStore store = StoreFromText("[" + key +
                                        "]\nMP3ChannelMode=number:2\nWMAChannels=number:0\nWAVChannelNum=number:0\n"
                                        "AmplifyWavCoeff=number:5\nAmplifyMp3Coeff=number:5000\n"
                                        "AmplifyAACCoef=number:5000\nOGGBitRate=number:128000\n"
                                        "WMAID3TagType=number:7\nOGGChannels=number:3\n");
    ConvertSettings s;
    LoadSettings(s, store);
    EXPECT_EQ(s.MP3ChannelMode, 1);
    EXPECT_EQ(s.WMAChannels, 2);
    EXPECT_EQ(s.WAVChannelNum, 0);
    EXPECT_EQ(s.AmplifyWavCoeff, 10);
    EXPECT_EQ(s.AmplifyMp3Coeff, 3000);
    EXPECT_EQ(s.AmplifyAACCoef, 5000);
    EXPECT_EQ(s.OGGBitRate, 128);
    EXPECT_EQ(s.WMAID3TagType, 2);
    EXPECT_EQ(s.OGGChannels, 2);

    ConvertSettings t;
    LoadSettings(t, StoreFromText("[" + key + "]\nOGGBitRate=number:1000\n"));
    EXPECT_EQ(t.OGGBitRate, 1000);
}

TEST(SettingsFormatTable, RowsLabelsAndSelection) {
    EXPECT_EQ(OutputFormatRowIndex(6500), 7);  // the later "M4A (MPEG-4 Audio)" row
    EXPECT_EQ(OutputFormatRowText(kOutputFormatTable[7]), " to M4A (MPEG-4 Audio)");
    EXPECT_EQ(OutputFormatRowText(kOutputFormatTable[0]), " to MP3");
    EXPECT_EQ(OutputFormatRowIndex(1234), -1);
    EXPECT_EQ(OutputExtension(6700), ".m4b");
    EXPECT_EQ(OutputExtension(42), "");
    EXPECT_EQ(OutputFormatName(5600), "AWB");
    EXPECT_EQ(OutputFormatFromName("WAV"), 2000);
    EXPECT_EQ(OutputFormatFromName("flac"), kOutputFlac);
    EXPECT_EQ(OutputFormatFromName("ALAC"), kOutputAlac);  // a name of its own for .m4a
    EXPECT_EQ(OutputExtension(kOutputAlac), ".m4a");
    EXPECT_EQ(OutputFormatName(kOutputAlac), "ALAC");
    EXPECT_EQ(OutputFormatFromName("ape"), 0);
}

TEST(SettingsFilter, SplitsLowerCasedKeepingEmptyPieces) {
    ConvertSettings s;
    s.FilterExts = "MP3,,Wav";
    s.EnableExtFilter = 0;
    RebuildExtensionFilter(s);
    EXPECT_TRUE(s.filterExtList.empty());
    s.EnableExtFilter = 1;
    RebuildExtensionFilter(s);
    EXPECT_EQ(s.filterExtList, (std::vector<std::string>{"mp3", "", "wav"}));
}

TEST(SettingsPersistence, GroupsRoundTripThroughTheFile) {
    TempDir dir;
    const std::string path = dir / "cfg/Pelloran.conf";
    ConvertSettings s;
    s.Folder = "/music/in";
    s.OutputFormat = 2000;
    s.OptStartPageIndex = 3;
    s.MP3BitRate = 320;
    s.FilterExts = "a\\b\nc=d";
    s.MP3Tag.Artist = "Zoë \"Z\"";
    s.OGGTag.CustomTrackNum = 7;

    RegistryStore store;
    store.Load(path);
    SaveSettings(s, kSaveFormatGroup, store);
    ASSERT_TRUE(store.Commit());
    RegistryStore reread;
    ASSERT_EQ(reread.Load(path), RegistryStore::LoadStatus::Loaded);
    ConvertSettings loaded;
    LoadSettings(loaded, reread);
    EXPECT_EQ(loaded.OutputFormat, 2000);
    EXPECT_EQ(loaded.OptStartPageIndex, 3);
    EXPECT_EQ(loaded.MP3BitRate, 128);  // options group not saved
    EXPECT_EQ(loaded.Folder, "");

    SaveSettings(s, kSaveFolderGroup | kSaveOptionsGroup, reread);
    ASSERT_TRUE(reread.Commit());
    RegistryStore third;
    ASSERT_EQ(third.Load(path), RegistryStore::LoadStatus::Loaded);
    ConvertSettings all;
    LoadSettings(all, third);
    EXPECT_EQ(all.Folder, "/music/in");
    EXPECT_EQ(all.MP3BitRate, 320);
    EXPECT_EQ(all.FilterExts, "a\\b\nc=d");
    EXPECT_EQ(all.MP3Tag.Artist, "Zoë \"Z\"");
    EXPECT_EQ(all.OGGTag.CustomTrackNum, 7);
    EXPECT_EQ(all.OutputFormat, 2000);

    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SettingsPersistence, EmptyTagTextLoadsEmptyAndMissingTagKeyKeepsValues) {
    const std::string tagKey = std::string(kOptionsKey) + "\\MP3Tag";
    ConvertSettings s;
    s.MP3Tag.Title = "kept?";
    s.OGGTag.Title = "kept";
    LoadSettings(s, StoreFromText("[" + std::string(kOptionsKey) + "]\n[" + tagKey + "]\nArtist=text:\n"));
    EXPECT_EQ(s.MP3Tag.Title, "");  // subkey exists: a missing text becomes empty
    EXPECT_EQ(s.MP3Tag.Artist, "");
    EXPECT_EQ(s.OGGTag.Title, "kept");
}

TEST(SettingsPersistence, CorruptFileMeansDefaultsForWhatDoesNotParse) {
    TempDir dir;
    const std::string path = dir / "Pelloran.conf";
    std::vector<uint8_t> junk = {0x01, 0xFF, '[', '\n', '=', '=', '\n'};
    const std::string text = "[" + std::string(kOptionsKey) +
                             "]\nMP3BitRate=number:192\nWAVSampleRate=number:12x\nOGGBitRate=text:oops\n"
                             "AMRMode=number:99999999999\nFolder=text:bad\\q\n";
    junk.insert(junk.end(), text.begin(), text.end());
    test::WriteBytes(path, junk);
    RegistryStore store;
    ASSERT_EQ(store.Load(path), RegistryStore::LoadStatus::Loaded);
    ConvertSettings s;
    LoadSettings(s, store);
    EXPECT_EQ(s.MP3BitRate, 192);
    EXPECT_EQ(s.WAVSampleRate, 44100);
    EXPECT_EQ(s.OGGBitRate, 128);
    EXPECT_EQ(s.AMRMode, 6);
    EXPECT_EQ(s.Folder, "");
}

TEST(SettingsPersistence, UnreadableFileIsNeverOverwritten) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDir dir;
    const std::string path = dir / "Pelloran.conf";
    test::WriteBytes(path, {'x'});
    chmod(path.c_str(), 0);
    RegistryStore store;
    EXPECT_EQ(store.Load(path), RegistryStore::LoadStatus::Unreadable);
    EXPECT_FALSE(store.Commit());
    chmod(path.c_str(), 0600);
    EXPECT_EQ(test::ReadBytes(path), std::vector<uint8_t>{'x'});
}

TEST(SettingsPersistence, FolderInPlaceOfTheFileIsNotReplaced) {
    TempDir dir;
    const std::string path = dir / "Pelloran.conf";
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    RegistryStore store;
    EXPECT_EQ(store.Load(path), RegistryStore::LoadStatus::Unreadable);
    store.WriteNumber(kOptionsKey, "MP3BitRate", 1);
    EXPECT_FALSE(store.Commit());
}

TEST(SettingsPersistence, LoadSaysWhatHappened) {
    using Status = RegistryStore::LoadStatus;
    const std::string good = "[" + std::string(kOptionsKey) + "]\nMP3BitRate=number:192\n";
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> make;
        Status status;
        const char* error;
    };
    const auto text = [](std::string content) {
        return [content](const std::string& path) { test::WriteBytes(path, {content.begin(), content.end()}); };
    };
    const Case cases[] = {
        {"missing", [](const std::string&) {}, Status::Missing, ""},
        {"empty", text(""), Status::Loaded, ""},
        {"blanks and comments", text("# a comment\n\n  \t\r\n; another\n"), Status::Loaded, ""},
        {"one good section among junk", text("junk\n" + good + "x=y\n"), Status::Loaded, ""},
        {"no line parses", text("hello\nname=value\n[]\n"), Status::NotSettings, "not a settings file"},
        {"values outside a section", text("MP3BitRate=number:192\n"), Status::NotSettings, "not a settings file"},
        {"NUL bytes", text(good + std::string(1, '\0')), Status::NotSettings, "not a settings file"},
        {"too large", text(good + std::string(5 << 20, '#')), Status::Unreadable, "too large"},
        {"folder", [](const std::string& path) { mkdir(path.c_str(), 0700); }, Status::Unreadable,
         "not a regular file"},
        {"FIFO", [](const std::string& path) { mkfifo(path.c_str(), 0600); }, Status::Unreadable,
         "not a regular file"},
        {"no permission",
         [&](const std::string& path) {
             text(good)(path);
             chmod(path.c_str(), 0);
         },
         geteuid() == 0 ? Status::Loaded : Status::Unreadable, geteuid() == 0 ? "" : "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "Pelloran.conf";
        c.make(path);
        RegistryStore store;
        EXPECT_EQ(store.Load(path), c.status);
        EXPECT_EQ(store.loadError(), c.error);
        const bool usable = c.status == Status::Loaded || c.status == Status::Missing;
        EXPECT_EQ(store.writable(), usable);
        if (!usable) {
            EXPECT_FALSE(store.KeyExists(kOptionsKey));  // nothing half-loaded
        }
    }

    // A path through a regular file names nothing that could ever be written.
    TempDir dir;
    test::WriteBytes(dir / "file", {'x'});
    RegistryStore store;
    EXPECT_EQ(store.Load(dir / "file/Pelloran.conf"), Status::Unreadable);
    EXPECT_EQ(store.loadError(), "Not a directory");
}

TEST(SettingsPersistence, LinkedFileStaysALink) {
    namespace fs = std::filesystem;
    TempDir dir;
    fs::create_directories(dir / "dotfiles");
    const std::string target = dir / "dotfiles/pelloran.conf";
    const std::string link = dir / "Pelloran.conf";
    test::WriteBytes(target, {});
    // Relative, through a second link, and to a file that does not exist yet.
    fs::create_symlink("dotfiles/pelloran.conf", link);
    fs::create_symlink("Pelloran.conf", dir / "second.conf");
    fs::create_symlink("dotfiles/later.conf", dir / "dangling.conf");
    const struct {
        const char* link;
        std::string file;
        int32_t value;
    } cases[] = {{"Pelloran.conf", target, 320}, {"second.conf", target, 256},
                 {"dangling.conf", dir / "dotfiles/later.conf", 224}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        RegistryStore store;
        store.Load(dir / c.link);
        store.WriteNumber(kOptionsKey, "MP3BitRate", c.value);
        ASSERT_TRUE(store.Commit());
        EXPECT_TRUE(fs::is_symlink(dir / c.link));
        RegistryStore reread;
        ASSERT_EQ(reread.Load(c.file), RegistryStore::LoadStatus::Loaded);
        EXPECT_EQ(reread.ReadNumber(kOptionsKey, "MP3BitRate"), c.value);
    }
    EXPECT_TRUE(fs::is_symlink(link));
    size_t files = 0;  // the two targets, no temporary file left behind
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        files += entry.is_regular_file() && !entry.is_symlink();
    EXPECT_EQ(files, 2u);
}

TEST(SettingsFirstRun, ReportedOnceThenMarked) {
    RegistryStore store;
    EXPECT_TRUE(CheckFirstRun(store));
    EXPECT_EQ(store.ReadNumber(kOptionsKey, "FirstRun"), 0);
    EXPECT_FALSE(CheckFirstRun(store));
    store.WriteNumber(kOptionsKey, "FirstRun", 5);
    EXPECT_TRUE(CheckFirstRun(store));
}

TEST(SettingsByName, OverridesWithChecksAndRefusesUnknownNames) {
    ConvertSettings s;
    std::string error;
    EXPECT_TRUE(SetSettingByName(s, "MP3BitRate", "192", error));
    EXPECT_EQ(s.MP3BitRate, 192);
    EXPECT_FALSE(SetSettingByName(s, "AmplifyWavCoeff", "1", error));
    EXPECT_EQ(error, "'AmplifyWavCoeff' must be 10 to 3000, not 1");
    EXPECT_EQ(s.AmplifyWavCoeff, 100);
    EXPECT_TRUE(SetSettingByName(s, "MP3Tag.Artist", "Foo", error));
    EXPECT_EQ(s.MP3Tag.Artist, "Foo");
    EXPECT_TRUE(SetSettingByName(s, "M4ATag.TrackNumType", "2", error));
    EXPECT_EQ(s.M4ATag.TrackNumType, 2);
    EXPECT_TRUE(SetSettingByName(s, "FilterExts", "MP3", error));
    EXPECT_FALSE(SetSettingByName(s, "MP3BitRate", "fast", error));
    EXPECT_NE(error.find("number"), std::string::npos);
    EXPECT_FALSE(SetSettingByName(s, "NoSuchOption", "1", error));
    EXPECT_FALSE(SetSettingByName(s, "XYZTag.Artist", "1", error));
    EXPECT_FALSE(SetSettingByName(s, "MP3Tag.Nope", "1", error));
    EXPECT_FALSE(SetSettingByName(s, "MP3BitRate", "99999999999", error));
}

TEST(SettingsByName, NamesInAnyCaseAndCodesByName) {
    const struct {
        const char* name;
        const char* value;
        int32_t ConvertSettings::*member;
        int32_t expected;
    } cases[] = {
        {"targetexistsopt", "skip", &ConvertSettings::TargetExistsOpt, kTargetSkip},
        {"TargetExistsOpt", "Overwrite", &ConvertSettings::TargetExistsOpt, kTargetOverwrite},
        {"MonoType", "right", &ConvertSettings::MonoType, kMonoRight},
        {"DestOutputFolderOpt", "beside", &ConvertSettings::DestOutputFolderOpt, kOutputBesideSource},
        {"OutputFormat", "ogg", &ConvertSettings::OutputFormat, kOutputOgg},
        {"CreateDirs", "on", &ConvertSettings::CreateDirs, 1},
        {"MP3ChannelMode", "mono", &ConvertSettings::MP3ChannelMode, 3},
        {"WAVSampleRate", "source", &ConvertSettings::WAVSampleRate, 0},
    };
    for (const auto& c : cases) {
        ConvertSettings s;
        std::string error;
        EXPECT_TRUE(SetSettingByName(s, c.name, c.value, error)) << c.name << ": " << error;
        EXPECT_EQ(s.*c.member, c.expected) << c.name;
    }
    ConvertSettings s;
    std::string error;
    EXPECT_TRUE(SetSettingByName(s, "mp3tag.artist", "Ana", error));
    EXPECT_EQ(s.MP3Tag.Artist, "Ana");
    EXPECT_FALSE(SetSettingByName(s, "MP3Bitrat", "128", error));
    EXPECT_EQ(error, "unknown option 'MP3Bitrat'; did you mean 'MP3BitRate'?");
    EXPECT_FALSE(SetSettingByName(s, "TargetExistsOpt", "replace", error));
    EXPECT_EQ(error, "'TargetExistsOpt' needs a number or rename|overwrite|skip, not 'replace'");

    // Every option is listed once with its range and meaning.
    const auto list = DescribeSettings(s);
    const auto it = std::find_if(list.begin(), list.end(), [](const SettingInfo& i) { return i.name == "MonoType"; });
    ASSERT_NE(it, list.end());
    EXPECT_EQ(it->range, "0 to 2 (mix|left|right)");
    EXPECT_EQ(it->defaultValue, "0");
    EXPECT_FALSE(it->meaning.empty());
}

}  // namespace
}  // namespace pelloran
