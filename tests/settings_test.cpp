#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

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
    EXPECT_EQ(OutputFormatFromName("flac"), 0);
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
    ASSERT_TRUE(reread.Load(path));
    ConvertSettings loaded;
    LoadSettings(loaded, reread);
    EXPECT_EQ(loaded.OutputFormat, 2000);
    EXPECT_EQ(loaded.OptStartPageIndex, 3);
    EXPECT_EQ(loaded.MP3BitRate, 128);  // options group not saved
    EXPECT_EQ(loaded.Folder, "");

    SaveSettings(s, kSaveFolderGroup | kSaveOptionsGroup, reread);
    ASSERT_TRUE(reread.Commit());
    RegistryStore third;
    ASSERT_TRUE(third.Load(path));
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
    std::vector<uint8_t> junk = {0x00, 0xFF, '[', '\n', '=', '=', '\n'};
    const std::string text = "[" + std::string(kOptionsKey) +
                             "]\nMP3BitRate=number:192\nWAVSampleRate=number:12x\nOGGBitRate=text:oops\n"
                             "AMRMode=number:99999999999\nFolder=text:bad\\q\n";
    junk.insert(junk.end(), text.begin(), text.end());
    test::WriteBytes(path, junk);
    RegistryStore store;
    ASSERT_TRUE(store.Load(path));
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
    EXPECT_FALSE(store.Load(path));
    EXPECT_FALSE(store.Commit());
    chmod(path.c_str(), 0600);
    EXPECT_EQ(test::ReadBytes(path), std::vector<uint8_t>{'x'});
}

TEST(SettingsPersistence, FolderInPlaceOfTheFileIsNotReplaced) {
    TempDir dir;
    const std::string path = dir / "Pelloran.conf";
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    RegistryStore store;
    EXPECT_FALSE(store.Load(path));
    store.WriteNumber(kOptionsKey, "MP3BitRate", 1);
    EXPECT_FALSE(store.Commit());
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

}  // namespace
}  // namespace pelloran
