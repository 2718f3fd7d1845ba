#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/registry.h"
#include "formats/SettingsTable.h"
#include "frontend/Wording.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::TempDir;

RegistryStore StoreFromText(const std::string& text) {
    RegistryStore store;
    store.Parse(text);
    return store;
}

void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    test::WriteBytes(path, {text.begin(), text.end()});
}

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = test::ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

// Points XDG_CONFIG_HOME at a folder of its own for one test.
class ConfigHome {
public:
    ConfigHome() {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
        setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    }
    ~ConfigHome() {
        if (saved_) setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
    }
    ConfigHome(const ConfigHome&) = delete;
    ConfigHome& operator=(const ConfigHome&) = delete;
    std::string operator/(const std::string& name) const { return dir_ / name; }

private:
    TempDir dir_;
    std::optional<std::string> saved_;
};

TEST(SettingsDefaults, FirstStartWithoutStoredValues) {
    ConvertSettings s;
    LoadSettings(s, RegistryStore{});
    EXPECT_EQ(s.OutputFormat, 1000);
    EXPECT_EQ(s.TargetExistsOpt, 11);
    EXPECT_EQ(s.mp3.bitRate, 128);
    EXPECT_EQ(s.wma.bitRate, 128000);
    EXPECT_EQ(s.amr.nbMode, 6);
    EXPECT_EQ(s.mp3.tags.TitleAsFileName, 1);
    EXPECT_EQ(FormatListRowIndex(s.OutputFormat), 0);
    // With a documents folder the output goes there.
    if (!s.DestSpecifiedFolder.empty()) {
        EXPECT_EQ(s.DestOutputFolderOpt, 399);
    }
}

TEST(SettingsLoadChecks, OutOfRangeValuesAreCorrected) {
    const std::string key = kOptionsKey;
    RegistryStore store = StoreFromText("[" + key +
                                        "]\nMP3ChannelMode=2\nWMAChannels=0\nWAVChannelNum=0\n"
                                        "AmplifyWavCoeff=5\nAmplifyMp3Coeff=5000\n"
                                        "AmplifyAACCoef=5000\nOGGBitRate=128000\n"
                                        "WMAID3TagType=7\nOGGChannels=3\n");
    ConvertSettings s;
    LoadSettings(s, store);
    EXPECT_EQ(s.mp3.channels, 1);
    EXPECT_EQ(s.wma.channels, 2);
    EXPECT_EQ(s.wav.channels, 0);
    EXPECT_EQ(s.wav.gain, 10);
    EXPECT_EQ(s.mp3.gain, 3000);
    EXPECT_EQ(s.aac.gain, 5000);
    EXPECT_EQ(s.ogg.bitRate, 128);
    EXPECT_EQ(s.wma.tagType, 2);
    EXPECT_EQ(s.ogg.channels, 2);

    ConvertSettings t;
    LoadSettings(t, StoreFromText("[" + key + "]\nOGGBitRate=1000\n"));
    EXPECT_EQ(t.ogg.bitRate, 1000);
}

TEST(SettingsFormatTable, RowsLabelsAndSelection) {
    EXPECT_EQ(FormatListRowIndex(6500), 7);  // the later "M4A (MPEG-4 Audio)" row
    EXPECT_EQ(FormatListRows()[7].label, "M4A (MPEG-4 Audio)");
    EXPECT_EQ(FormatListRows()[0].label, "MP3");
    EXPECT_EQ(FormatListRowIndex(1234), -1);
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
    const std::string path = dir / "cfg/pelloran.conf";
    ConvertSettings s;
    s.Folder = "/music/in";
    s.OutputFormat = 2000;
    s.OptStartPageIndex = 3;
    s.mp3.bitRate = 320;
    s.FilterExts = "a\\b\nc=d";
    s.mp3.tags.Artist = "Zoë \"Z\"";
    s.ogg.tags.CustomTrackNum = 7;

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
    EXPECT_EQ(loaded.mp3.bitRate, 128);  // options group not saved
    EXPECT_EQ(loaded.Folder, "");

    SaveSettings(s, kSaveFolderGroup | kSaveOptionsGroup, reread);
    ASSERT_TRUE(reread.Commit());
    RegistryStore third;
    ASSERT_EQ(third.Load(path), RegistryStore::LoadStatus::Loaded);
    ConvertSettings all;
    LoadSettings(all, third);
    EXPECT_EQ(all.Folder, "/music/in");
    EXPECT_EQ(all.mp3.bitRate, 320);
    EXPECT_EQ(all.FilterExts, "a\\b\nc=d");
    EXPECT_EQ(all.mp3.tags.Artist, "Zoë \"Z\"");
    EXPECT_EQ(all.ogg.tags.CustomTrackNum, 7);
    EXPECT_EQ(all.OutputFormat, 2000);

    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SettingsPersistence, EmptyTagTextLoadsEmptyAndMissingTagKeyKeepsValues) {
    ConvertSettings s;
    s.mp3.tags.Title = "kept?";
    s.ogg.tags.Title = "kept";
    LoadSettings(s, StoreFromText("[Options]\n[Options/MP3Tag]\nArtist=\n"));
    EXPECT_EQ(s.mp3.tags.Title, "");  // subkey exists: a missing text becomes empty
    EXPECT_EQ(s.mp3.tags.Artist, "");
    EXPECT_EQ(s.ogg.tags.Title, "kept");
}

// Both forms: what does not parse keeps its default and is named in exactly one warning.
TEST(SettingsPersistence, CorruptFileMeansDefaultsWithOneWarningPerKey) {
    const struct {
        const char* form;
        std::string text;
    } cases[] = {
        {"plain",
         "[Options]\nMP3BitRate=192\nWAVSampleRate=12x\nOGGBitRate=oops\nAMRMode=99999999999\nFolder=bad\\q\n"
         "Junk line\n"},
        {"typed",
         "[Software\\Brenthaven\\Pelloran\\Options]\nMP3BitRate=number:192\nWAVSampleRate=number:12x\n"
         "OGGBitRate=text:oops\nAMRMode=number:99999999999\nFolder=text:bad\\q\nJunk line\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.form);
        TempDir dir;
        const std::string path = dir / "pelloran.conf";
        WriteText(path, std::string("\x01\xFF[\n==\n", 7) + c.text);
        RegistryStore store;
        ASSERT_EQ(store.Load(path), RegistryStore::LoadStatus::Loaded);
        ConvertSettings s;
        std::vector<std::string> warnings = store.parseWarnings();
        std::vector<SettingProblem> problems;
        LoadSettings(s, store, &problems);
        for (const SettingProblem& p : problems) warnings.push_back(SettingProblemText(p));
        EXPECT_EQ(s.mp3.bitRate, 192);
        EXPECT_EQ(s.wav.rate, 44100);
        EXPECT_EQ(s.ogg.bitRate, 128);
        EXPECT_EQ(s.amr.nbMode, 6);
        EXPECT_EQ(s.Folder, "");
        for (const std::string name : {"WAVSampleRate:", "OGGBitRate:", "AMRMode:", "Folder:", "Junk line:"}) {
            EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                                    [&](const std::string& w) { return w.rfind(name, 0) == 0; }),
                      1)
                << name;
        }
        EXPECT_EQ(warnings.size(), 5u);
    }
}

TEST(SettingsPersistence, UnreadableFileIsNeverOverwritten) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDir dir;
    const std::string path = dir / "pelloran.conf";
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
    const std::string path = dir / "pelloran.conf";
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    RegistryStore store;
    EXPECT_EQ(store.Load(path), RegistryStore::LoadStatus::Unreadable);
    store.WriteNumber(kOptionsKey, "MP3BitRate", 1);
    EXPECT_FALSE(store.Commit());
}

TEST(SettingsPersistence, LoadSaysWhatHappened) {
    using Status = RegistryStore::LoadStatus;
    const std::string good = "[Options]\nMP3BitRate=192\n";
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
        {"values outside a section", text("MP3BitRate=192\n"), Status::NotSettings, "not a settings file"},
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
        const std::string path = dir / "pelloran.conf";
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
    EXPECT_EQ(store.Load(dir / "file/pelloran.conf"), Status::Unreadable);
    EXPECT_EQ(store.loadError(), "Not a directory");
}

TEST(SettingsPersistence, LinkedFileStaysALink) {
    namespace fs = std::filesystem;
    TempDir dir;
    fs::create_directories(dir / "dotfiles");
    const std::string target = dir / "dotfiles/pelloran.conf";
    const std::string link = dir / "pelloran.conf";
    test::WriteBytes(target, {});
    // Relative, through a second link, and to a file that does not exist yet.
    fs::create_symlink("dotfiles/pelloran.conf", link);
    fs::create_symlink("pelloran.conf", dir / "second.conf");
    fs::create_symlink("dotfiles/later.conf", dir / "dangling.conf");
    const struct {
        const char* link;
        std::string file;
        int32_t value;
    } cases[] = {{"pelloran.conf", target, 320}, {"second.conf", target, 256},
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

// Every kind of value comes back from the file as it went in, and is written plainly.
TEST(SettingsFile, PlainFormRoundTripsEveryValueKind) {
    const std::string key = std::string(kOptionsKey) + "\\MP3Tag";
    const struct {
        const char* name;
        std::optional<int32_t> number;  // a text otherwise
        std::string text;
        std::string line;  // as the file has it
    } cases[] = {
        {"Zero", 0, "", "Zero=0"},
        {"Negative", -5, "", "Negative=-5"},
        {"Lowest", INT32_MIN, "", "Lowest=-2147483648"},
        {"Highest", INT32_MAX, "", "Highest=2147483647"},
        {"Empty", std::nullopt, "", "Empty="},
        {"Folder", std::nullopt, "/home/ana/Music", "Folder=/home/ana/Music"},
        {"Lines", std::nullopt, "one\ntwo\r\nthree\r", "Lines=one\\ntwo\\r\\nthree\\r"},
        {"Backslashes", std::nullopt, "C:\\n\\", "Backslashes=C:\\\\n\\\\"},
        {"Spaces", std::nullopt, "  both ends \t ", "Spaces=  both ends \t "},
        {"Bytes", std::nullopt, "Zo\xC3\xAB \xFF\xFE\x01\t", "Bytes=Zo\xC3\xAB \xFF\xFE\x01\t"},
        {"Syntax", std::nullopt, "=[x] # ;", "Syntax==[x] # ;"},
        {"Looks typed", std::nullopt, "number:5", "Looks typed=number:5"},
        {"Nul", std::nullopt, std::string("a\0b", 3), "Nul=a\\0b"},
    };
    TempDir dir;
    const std::string path = dir / "pelloran.conf";
    RegistryStore store;
    ASSERT_EQ(store.Load(path), RegistryStore::LoadStatus::Missing);
    for (const auto& c : cases) {
        if (c.number) store.WriteNumber(key, c.name, *c.number);
        else store.WriteText(key, c.name, c.text);
    }
    ASSERT_TRUE(store.Commit());
    const std::string file = ReadText(path);
    EXPECT_NE(file.find("\n[Options/MP3Tag]\n"), std::string::npos) << file;
    RegistryStore reread;
    ASSERT_EQ(reread.Load(path), RegistryStore::LoadStatus::Loaded);
    EXPECT_TRUE(reread.parseWarnings().empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(file.find("\n" + c.line + "\n"), std::string::npos);
        if (c.number) EXPECT_EQ(reread.ReadNumber(key, c.name), c.number);
        else EXPECT_EQ(reread.ReadText(key, c.name), c.text);
    }

    // A written file is read plainly even when every value looks like the old typed form.
    RegistryStore typedLooking;
    typedLooking.Load(dir / "other.conf");
    typedLooking.WriteText(kOptionsKey, "Folder", "text:x");
    ASSERT_TRUE(typedLooking.Commit());
    ASSERT_EQ(reread.Load(dir / "other.conf"), RegistryStore::LoadStatus::Loaded);
    EXPECT_EQ(reread.ReadText(kOptionsKey, "Folder"), "text:x");
}

TEST(SettingsFile, NumbersParseOnReadAndOtherTextIsNone) {
    const struct {
        std::string value;
        std::optional<int32_t> number;
    } cases[] = {
        {"42", 42},          {" 42\t", 42},                 {"-7", -7},
        {"+7", 7},           {"007", 7},                    {"-2147483648", INT32_MIN},
        {"4294967295", -1},  {"2147483648", INT32_MIN},     {"4294967296", std::nullopt},
        {"-2147483649", std::nullopt}, {"", std::nullopt},  {"-", std::nullopt},
        {"12x", std::nullopt}, {"0x10", std::nullopt},      {"1 2", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const RegistryStore store = StoreFromText("[Options]\nN=" + c.value + "\n");
        EXPECT_TRUE(store.HasValue(kOptionsKey, "N"));
        EXPECT_EQ(store.ReadText(kOptionsKey, "N"), c.value);
        EXPECT_EQ(store.ReadNumber(kOptionsKey, "N"), c.number);
    }
}

// Lines that do not parse are named in bounded warnings; a huge value is kept whole.
TEST(SettingsFile, HostileLinesGiveBoundedWarnings) {
    std::string text = "[Options]\n" + std::string(2 << 20, 'x') + "\nFolder=" + std::string(1 << 20, 'a') +
                       "\nMP3BitRate=192\nBroken=\\\n";
    for (int i = 0; i < 5000; ++i) text += "junk\n";
    TempDir dir;
    const std::string path = dir / "pelloran.conf";
    WriteText(path, text);
    RegistryStore store;
    ASSERT_EQ(store.Load(path), RegistryStore::LoadStatus::Loaded);
    EXPECT_EQ(store.ReadNumber(kOptionsKey, "MP3BitRate"), 192);
    EXPECT_EQ(store.ReadText(kOptionsKey, "Folder")->size(), 1u << 20);
    EXPECT_FALSE(store.HasValue(kOptionsKey, "Broken"));
    const auto& warnings = store.parseWarnings();
    ASSERT_EQ(warnings.size(), 101u);
    EXPECT_EQ(warnings[0].rfind(std::string(64, 'x') + "...: ", 0), 0u) << warnings[0];
    EXPECT_EQ(warnings[1].rfind("Broken: ", 0), 0u) << warnings[1];
    EXPECT_EQ(warnings[2].rfind("junk: ", 0), 0u) << warnings[2];
    for (const std::string& w : warnings) EXPECT_LT(w.size(), 200u);
}

TEST(SettingsMigration, OldFileIsCarriedOverOnceAndLeftAsItWas) {
    const ConfigHome home;
    const std::string oldPath = home / "Brenthaven/Pelloran.conf";
    const std::string newPath = home / "pelloran/pelloran.conf";
    ASSERT_EQ(RegistryStore::LegacyPath(), oldPath);
    ASSERT_EQ(RegistryStore::DefaultPath(), newPath);
    const std::string old =
        "# Pelloran settings. Written by the program; edit while it is not running.\n\n"
        "[Software\\Brenthaven\\Pelloran\\Options]\nFolder=text:/home/ana/Music\\tx\\x01\nMP3BitRate=number:320\n"
        "OutputFormat=number:4294967295\n\n[Software\\Brenthaven\\Pelloran\\Options\\MP3Tag]\nArtist=text:Zo\xC3\xAB\n";
    WriteText(oldPath, old);

    RegistryStore first;
    ASSERT_EQ(first.Load(newPath), RegistryStore::LoadStatus::Loaded);
    EXPECT_TRUE(first.parseWarnings().empty());
    EXPECT_EQ(first.ReadNumber(kOptionsKey, "OutputFormat"), -1);
    EXPECT_EQ(first.ReadText(kOptionsKey, "Folder"), "/home/ana/Music\tx\x01");
    ConvertSettings s;
    LoadSettings(s, first);
    EXPECT_EQ(s.mp3.bitRate, 320);
    EXPECT_EQ(s.mp3.tags.Artist, "Zo\xC3\xAB");
    const std::string migrated = ReadText(newPath);
    for (const char* line : {"\n[Options]\n", "\nMP3BitRate=320\n", "\nOutputFormat=-1\n",
                             "\n[Options/MP3Tag]\nArtist=Zo\xC3\xAB\n"})
        EXPECT_NE(migrated.find(line), std::string::npos) << line << "\n" << migrated;
    EXPECT_EQ(migrated.find("number:"), std::string::npos) << migrated;
    EXPECT_EQ(ReadText(oldPath), old);
    struct stat st {};
    ASSERT_EQ(stat(newPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The next start reads the new file only: newer settings stay, the old file is still untouched.
    first.WriteNumber(kOptionsKey, "MP3BitRate", 128);
    ASSERT_TRUE(first.Commit());
    RegistryStore second;
    ASSERT_EQ(second.Load(newPath), RegistryStore::LoadStatus::Loaded);
    EXPECT_EQ(second.ReadNumber(kOptionsKey, "MP3BitRate"), 128);
    EXPECT_EQ(ReadText(oldPath), old);
}

TEST(SettingsMigration, OnlyTheDefaultFileTakesAnOldFileThatLoads) {
    using Status = RegistryStore::LoadStatus;
    const struct {
        const char* what;
        std::string old;  // empty: none
        const char* path;
        Status status;
    } cases[] = {
        {"no old file", "", "pelloran/pelloran.conf", Status::Missing},
        {"old file is no settings file", std::string("[Options]\n\0", 11), "pelloran/pelloran.conf", Status::Missing},
        {"a file named outright", "[Options]\nMP3BitRate=number:320\n", "elsewhere.conf", Status::Missing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ConfigHome home;
        if (!c.old.empty()) WriteText(RegistryStore::LegacyPath(), c.old);
        RegistryStore store;
        EXPECT_EQ(store.Load(home / c.path), c.status);
        EXPECT_FALSE(store.KeyExists(kOptionsKey));
        EXPECT_FALSE(std::filesystem::exists(home / "pelloran"));
        if (!c.old.empty()) {
            EXPECT_EQ(ReadText(RegistryStore::LegacyPath()), c.old);
        }
    }
}

// What --settings does: a named file in the old form is read and never written.
TEST(SettingsMigration, NamedOldFormFileIsReadAsItIs) {
    const ConfigHome home;
    const std::string path = home / "old-settings.conf";
    const std::string old = "[Software\\Brenthaven\\Pelloran\\Options]\r\nMP3BitRate=number:256\r\n"
                            "FilterExts=text:mp3\\\\wav\r\n[Software\\Brenthaven\\Pelloran\\Options\\OGGTag]\r\n"
                            "CustomTrackNum=number:7\r\n";
    WriteText(path, old);
    RegistryStore store;
    ASSERT_EQ(store.Load(path), RegistryStore::LoadStatus::Loaded);
    ConvertSettings s;
    std::vector<SettingProblem> warnings;
    LoadSettings(s, store, &warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(s.mp3.bitRate, 256);
    EXPECT_EQ(s.FilterExts, "mp3\\wav");
    EXPECT_EQ(s.ogg.tags.CustomTrackNum, 7);
    EXPECT_EQ(ReadText(path), old);
    EXPECT_FALSE(std::filesystem::exists(home / "pelloran"));
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
    EXPECT_EQ(s.mp3.bitRate, 192);
    EXPECT_FALSE(SetSettingByName(s, "AmplifyWavCoeff", "1", error));
    EXPECT_EQ(error, "'AmplifyWavCoeff' must be 10 to 3000, not 1");
    EXPECT_EQ(s.wav.gain, 100);
    EXPECT_TRUE(SetSettingByName(s, "MP3Tag.Artist", "Foo", error));
    EXPECT_EQ(s.mp3.tags.Artist, "Foo");
    EXPECT_TRUE(SetSettingByName(s, "M4ATag.TrackNumType", "2", error));
    EXPECT_EQ(s.m4a.tags.TrackNumType, 2);
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
        NumberRef member;
        int32_t expected;
    } cases[] = {
        {"targetexistsopt", "skip", Field<&ConvertSettings::TargetExistsOpt>, kTargetSkip},
        {"TargetExistsOpt", "Overwrite", Field<&ConvertSettings::TargetExistsOpt>, kTargetOverwrite},
        {"MonoType", "right", Field<&ConvertSettings::MonoType>, kMonoRight},
        {"DestOutputFolderOpt", "beside", Field<&ConvertSettings::DestOutputFolderOpt>, kOutputBesideSource},
        {"OutputFormat", "ogg", Field<&ConvertSettings::OutputFormat>, kOutputOgg},
        {"CreateDirs", "on", Field<&ConvertSettings::CreateDirs>, 1},
        {"MP3ChannelMode", "mono", In<&ConvertSettings::mp3, &Mp3Settings::channels>, 3},
        {"WAVSampleRate", "source", In<&ConvertSettings::wav, &FormatSettings::rate>, 0},
    };
    for (const auto& c : cases) {
        ConvertSettings s;
        std::string error;
        EXPECT_TRUE(SetSettingByName(s, c.name, c.value, error)) << c.name << ": " << error;
        EXPECT_EQ(c.member(s), c.expected) << c.name;
    }
    ConvertSettings s;
    std::string error;
    EXPECT_TRUE(SetSettingByName(s, "mp3tag.artist", "Ana", error));
    EXPECT_EQ(s.mp3.tags.Artist, "Ana");
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
