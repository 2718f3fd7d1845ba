// Names settled over the whole list, shards that add up, and the library mirror: incremental, pruning only its
// own files, and converging after runs killed at any point.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "app/Mirror.h"
#include "app/OutputNaming.h"
#include "formats/OutputFormat.h"
#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Mirror = Hostile;

// A short plucked chord, different for every seed, as sox makes it.
std::string Pluck(const std::string& path, int seed, double seconds = 0.2) {
    fs::create_directories(fs::path(path).parent_path());
    const char* notes[] = {"C4", "D4", "E4", "F4", "G4", "A4", "B4"};
    const auto r = test::Run({"sox", "-n", "-r", "22050", "-c", "2", path, "synth", std::to_string(seconds), "pluck",
                              notes[seed % 7], "pluck", notes[(seed / 7 + 2) % 7], "fade", "0", std::to_string(seconds),
                              "0.05"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return path;
}

// Every file below folder (relative path -> bytes), hidden ones left out.
std::map<std::string, std::vector<uint8_t>> Tree(const fs::path& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename().string()[0] == '.') {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) files[fs::relative(it->path(), folder)] = ReadBytes(it->path());
    }
    return files;
}

Json LastJson(const std::string& out, const char* key) {
    std::istringstream in(out);
    Json found;
    for (std::string line; std::getline(in, line);) {
        const Json j = Json::parse(line, nullptr, false);
        if (j.is_object() && j.contains(key)) found = j[key].is_boolean() ? j : j[key];
    }
    return found;
}

TEST(SettledNames, ClashesAreSettledByPathWhateverTheOrder) {
    ConvertSettings settings;
    settings.OutputFormat = kOutputOgg;
    settings.DestOutputFolderOpt = kOutputIntoFolder;
    settings.DestSpecifiedFolder = "/out";
    const struct {
        std::vector<std::string> sources;
        std::vector<std::string> names;  // in the order of sources
        std::set<std::string> pinned;
    } cases[] = {
        {{"/m/a.wav", "/m/a.flac"}, {"a (wav).ogg", "a.ogg"}, {}},
        {{"/m/y/01.flac", "/m/x/01.flac", "/m/z/01.wav"}, {"01_1.ogg", "01.ogg", "01 (wav).ogg"}, {}},
        {{"/m/Song.flac", "/n/song.flac"}, {"Song.ogg", "song_1.ogg"}, {}},
        // A name another source already owns (a mirror's manifest) is never given out.
        {{"/m/a.aac", "/m/b.wav"}, {"a (aac).ogg", "b.ogg"}, {FoldedTarget("/out/a.ogg")}},
        // A settled name never takes another source's plain name.
        {{"/m/a.wav", "/m/a.flac", "/m/a (wav).mp3"}, {"a (wav)_1.ogg", "a.ogg", "a (wav).ogg"}, {}},
    };
    for (const auto& c : cases) {
        for (const bool reversed : {false, true}) {
            std::vector<FileItem> items(c.sources.size());
            std::vector<FileItem*> pointers;
            for (size_t i = 0; i < items.size(); ++i) {
                items[i].sourcePath = c.sources[i];
                pointers.push_back(&items[i]);
            }
            if (reversed) std::reverse(pointers.begin(), pointers.end());
            const SettledNames settled = SettleNames(pointers, settings, c.pinned);
            for (size_t i = 0; i < items.size(); ++i) {
                const std::string stem = fs::path(c.sources[i]).stem();
                EXPECT_EQ(stem + settled.SuffixOf(c.sources[i]) + ".ogg", c.names[i]) << c.sources[i];
            }
        }
    }
}

TEST(MirrorManifest, HostileLinesAreLeftOutAndNamesRoundTrip) {
    MirrorManifest manifest;
    manifest.Put({"A/x\ty.ogg", "A/x\ty.flac", 10, -5, 77});
    manifest.Put({"B/n\\l\n.ogg", "B/n\\l\n.wav", 1, 2, 1});
    MirrorManifest back;
    back.Parse(manifest.Text());
    EXPECT_EQ(back.Text(), manifest.Text());
    EXPECT_EQ(back.bySource().size(), 2u);
    EXPECT_EQ(back.damagedLines(), 0u);
    const char* damaged[] = {
        "/etc/passwd\ta.flac\t1\t1\t2",          "../x.ogg\ta.flac\t1\t1\t2",      "a/./x.ogg\ta.flac\t1\t1\t2",
        "x.ogg\t../a.flac\t1\t1\t2",             "x.ogg\ta.flac\t1\t1",            "x.ogg\ta.flac\t1\t1\t2\t3",
        "x.ogg\ta.flac\t-1\t1\t2",               "x.ogg\ta.flac\t1\t1\t99999999999999999999999", "x\\q.ogg\ta\t1\t1\t2",
        ".pelloran-mirror\ta.flac\t1\t1\t2",     "\ta.flac\t1\t1\t2",              "x.ogg\ta.flac\t1x\t1\t2",
    };
    std::string text = "# pelloran mirror 1\n";
    for (const char* line : damaged) text += std::string(line) + "\n";
    text += "good.ogg\tgood.flac\t3\t4\t5\n" + std::string(100000, 'x');
    back.Parse(text);
    EXPECT_EQ(back.damagedLines(), std::size(damaged) + 1);
    ASSERT_EQ(back.bySource().size(), 1u);
    EXPECT_EQ(back.bySource().begin()->second.target, "good.ogg");
    EXPECT_FALSE(IsContainedPath("a//b"));
    EXPECT_TRUE(IsContainedPath("a/b c/d.ogg"));
}

// Three shards of a list with clashing names give exactly the one-machine run; -n after a deleted target
// converts that very source again; failures go to the report and --max-failures decides the exit status.
TEST_F(Mirror, ShardsAddUpToTheOneMachineRun) {
    std::string list;
    int seed = 0;
    for (const char* album : {"Ana/One", "Ana/Two", "Bo/One"}) {
        for (const char* name : {"01.flac", "02.flac", "01.wav"}) {
            const std::string path = Pluck(dir_ / (std::string("lib/") + album + "/" + name), seed++);
            list += path + '\n';
        }
    }
    WriteBytes(dir_ / "lib/Bo/One/broken.wav", {'R', 'I', 'F', 'F', 1, 2, 3});
    list += dir_ / "lib/Bo/One/broken.wav\n";
    WriteBytes(dir_ / "list", std::vector<uint8_t>(list.begin(), list.end()));
    for (const bool keepTree : {false, true}) {
        SCOPED_TRACE(keepTree);
        std::vector<std::string> common = {"-n", "-f", "flac", "--files-from", dir_ / "list"};
        if (keepTree) common.push_back("--keep-tree");
        auto args = common;
        args.insert(args.end(), {"-o", dir_ / "one"});
        auto r = Cli(args);
        EXPECT_EQ(r.exitCode, 1) << r.err;  // the broken file
        for (const char* shard : {"1/3", "2/3", "3/3"}) {
            args = common;
            args.insert(args.end(), {"-o", dir_ / "shards", "--shard", shard, "--report",
                                     dir_ / (std::string("report-") + shard[0]), "--max-failures", "1"});
            r = Cli(args);
            EXPECT_EQ(r.exitCode, 0) << r.err;
        }
        const auto one = Tree(dir_ / "one");
        EXPECT_EQ(one.size(), 9u);
        EXPECT_TRUE(one == Tree(dir_ / "shards"));
        EXPECT_EQ(one.count(keepTree ? "Ana/One/01 (wav).flac" : "01_5.flac"), 1u);
        std::string reports;
        for (const char k : {'1', '2', '3'}) {
            const auto bytes = ReadBytes(dir_ / (std::string("report-") + k));
            reports += std::string(bytes.begin(), bytes.end());
        }
        ASSERT_EQ(std::count(reports.begin(), reports.end(), '\n'), 1) << reports;
        EXPECT_EQ(Json::parse(reports)["source"], dir_ / "lib/Bo/One/broken.wav");

        const std::string victim = keepTree ? "Bo/One/01 (wav).flac" : "01_5.flac";
        fs::remove(dir_ / ("one/" + victim));
        args = common;
        args.insert(args.end(), {"-o", dir_ / "one", "--json"});
        r = Cli(args);
        size_t converted = 0;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            const Json j = Json::parse(line);
            if (j.value("status_code", "") == "converted") {
                ++converted;
                EXPECT_EQ(j["source"], dir_ / "lib/Bo/One/01.wav");
            }
        }
        EXPECT_EQ(converted, 1u) << r.out;
        EXPECT_TRUE(one == Tree(dir_ / "one"));
        fs::remove_all(dir_ / "one");
        fs::remove_all(dir_ / "shards");
    }
}

TEST_F(Mirror, ConvertsOnlyWhatChangedAndPrunesOnlyItsOwnFiles) {
    for (int i = 0; i < 6; ++i) Pluck(dir_ / ("lib/d" + std::to_string(i % 2) + "/t" + std::to_string(i) + ".wav"), i);
    Pluck(dir_ / "lib/d0/t0.flac", 9);
    WriteBytes(dir_ / "lib/d0/cover.jpg", {1, 2, 3});
    WriteBytes(dir_ / "lib/d0/notes.txt", {4});
    const std::vector<std::string> mirror = {"--json", "--mirror", dir_ / "lib", "-o", dir_ / "m", "-f", "flac",
                                             "--copy-other", "*.JPG"};
    const auto run = [&](std::vector<std::string> extra = {}) {
        auto args = mirror;
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return std::pair(LastJson(r.out, "summary"), LastJson(r.out, "mirror"));
    };
    auto [summary, counts] = run();
    EXPECT_EQ(summary["converted"], 7);
    EXPECT_EQ(counts["copied"], 1);
    EXPECT_TRUE(fs::exists(dir_ / "m/d0/t0 (wav).flac"));
    EXPECT_FALSE(fs::exists(dir_ / "m/d0/notes.txt"));
    const auto first = Tree(dir_ / "m");

    std::tie(summary, counts) = run();
    EXPECT_EQ(summary["converted"], 0);
    EXPECT_EQ(counts["up_to_date"], 8);
    EXPECT_TRUE(first == Tree(dir_ / "m"));

    // One changed, one new that clashes with a name the mirror already gave, one gone; the user's own file stays.
    Pluck(dir_ / "lib/d1/t1.wav", 20);
    Pluck(dir_ / "lib/d0/t0.aac.wav", 21);
    Pluck(dir_ / "lib/d1/t3.aiff", 22);  // the stem of t3.wav, whose target keeps its name
    fs::remove(dir_ / "lib/d0/t2.wav");
    WriteBytes(dir_ / "m/d0/mine.flac", {9});
    std::tie(summary, counts) = run();
    EXPECT_EQ(summary["converted"], 3);
    EXPECT_EQ(counts["gone_kept"], 1);
    EXPECT_TRUE(fs::exists(dir_ / "m/d0/t2.flac"));
    EXPECT_EQ(first.at("d1/t3.flac"), Tree(dir_ / "m").at("d1/t3.flac")) << "an old name never moves";
    EXPECT_TRUE(fs::exists(dir_ / "m/d1/t3 (aiff).flac"));
    std::tie(summary, counts) = run({"--prune"});
    EXPECT_EQ(counts["removed"], 1);
    EXPECT_FALSE(fs::exists(dir_ / "m/d0/t2.flac"));
    EXPECT_TRUE(fs::exists(dir_ / "m/d0/mine.flac"));
    // New settings convert everything again into the same names; a source gone with its folder takes the folder.
    fs::remove_all(dir_ / "lib/d1");
    std::tie(summary, counts) = run({"--prune", "-s", "FLACCompression=8"});
    EXPECT_EQ(summary["converted"], 4);
    EXPECT_EQ(counts["removed"], 4);
    EXPECT_FALSE(fs::exists(dir_ / "m/d1"));
}

// A file the mirror did not make where a new target goes is renamed around (the default), skipped (-n) or
// replaced (-y only); a target a killed run committed but never listed stays the mirror's own through its note.
TEST_F(Mirror, NeverReplacesAFileItDidNotMake) {
    Pluck(dir_ / "lib/a.wav", 1);
    Pluck(dir_ / "lib/b.wav", 2);
    WriteBytes(dir_ / "lib/cover.jpg", {1, 2, 3});
    const std::vector<uint8_t> mine = {9};
    const struct {
        std::vector<std::string> flags;
        const char* aTarget;      // where a.wav goes, "" when skipped
        const char* coverTarget;  // where cover.jpg goes, "" when skipped
        int skipped;
    } cases[] = {
        {{}, "a (wav).flac", "cover_1.jpg", 0},
        {{"-n"}, "", "", 2},
        {{"-y"}, "a.flac", "cover.jpg", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags.empty() ? "rename" : c.flags[0]);
        fs::remove_all(dir_ / "m");
        fs::create_directories(dir_ / "m");
        WriteBytes(dir_ / "m/a.flac", mine);
        WriteBytes(dir_ / "m/cover.jpg", mine);
        std::vector<std::string> args = {"--json", "--mirror", dir_ / "lib", "-o", dir_ / "m", "-f", "flac",
                                         "--copy-other", "cover.jpg"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        for (int run = 0; run < 2; ++run) {
            const auto r = Cli(args);
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(LastJson(r.out, "summary")["skipped"], c.skipped) << r.out;
            EXPECT_EQ(LastJson(r.out, "summary")["converted"], run == 0 ? 2 - c.skipped / 2 : 0) << r.out;
        }
        const auto tree = Tree(dir_ / "m");
        EXPECT_EQ(tree.at("a.flac") == mine, std::string(c.aTarget) != "a.flac");
        EXPECT_EQ(tree.at("cover.jpg") == mine, std::string(c.coverTarget) != "cover.jpg");
        const bool renamed = std::string(c.aTarget) == "a (wav).flac";
        EXPECT_EQ(tree.size(), 3u + (renamed ? 2 : 0));
        if (c.aTarget[0] != '\0') {
            EXPECT_EQ(test::Run({"flac", "-s", "-t", dir_ / ("m/" + std::string(c.aTarget))}).exitCode, 0);
        }
        if (c.coverTarget[0] != '\0') {
            EXPECT_EQ(tree.at(c.coverTarget), std::vector<uint8_t>({1, 2, 3}));
        }
    }

    // The manifest lost a.wav's line, as when a run is killed right after the rename of its target.
    for (const bool noted : {true, false}) {
        SCOPED_TRACE(noted);
        fs::remove_all(dir_ / "m");
        const std::vector<std::string> args = {"--json", "--mirror", dir_ / "lib", "-o", dir_ / "m", "-f", "flac"};
        ASSERT_EQ(Cli(args).exitCode, 0);
        const auto first = Tree(dir_ / "m");
        const auto bytes = ReadBytes(dir_ / "m/.pelloran-mirror");
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        std::string kept;
        for (std::string line; std::getline(in, line);) {
            if (line.find("\ta.wav\t") == std::string::npos) kept += line + "\n";
        }
        WriteBytes(dir_ / "m/.pelloran-mirror", std::vector<uint8_t>(kept.begin(), kept.end()));
        if (noted) {
            ASSERT_TRUE(NotePending(dir_ / "m", "a.flac", "a.wav", dir_ / "m/a.flac"));
            // Notes that are not ours, or name a path out of the folder, change nothing.
            auto journal = ReadBytes(dir_ / "m/.pelloran-mirror.pending");
            const std::string hostile = "1\t2\t../b.flac\tb.wav\tw\nx\ty\n1\t2\tb.flac\n" +
                                        std::string(70000, 'z') + "\n";
            journal.insert(journal.begin(), hostile.begin(), hostile.end());
            for (const char c : std::string("3\t4\tb.flac\tb.wav")) journal.push_back(c);  // cut short
            WriteBytes(dir_ / "m/.pelloran-mirror.pending", journal);
        }
        const auto r = Cli(args);
        EXPECT_EQ(LastJson(r.out, "summary")["converted"], 1);
        EXPECT_EQ(fs::exists(dir_ / "m/a (wav).flac"), !noted);
        if (noted) {
            EXPECT_TRUE(first == Tree(dir_ / "m"));
        }
        EXPECT_FALSE(fs::exists(dir_ / "m/.pelloran-mirror.pending")) << "notes of listed targets go";
    }
}

// Runs killed by SIGKILL at random moments, first while the mirror is made, then while it follows changes: the
// next run repairs what they left, and the mirror converges to the one a single run makes.
TEST_F(Mirror, KilledRunsConverge) {
    for (int i = 0; i < 24; ++i)
        Pluck(dir_ / ("lib/a" + std::to_string(i % 3) + "/s" + std::to_string(i) + ".wav"), i, 2.0);
    const std::vector<std::string> args = {"--mirror", dir_ / "lib", "-o", dir_ / "m", "-f", "flac", "-j", "2", "--prune"};
    std::vector<std::string> argv = {CliPath(), "-q", "--settings", settingsFile_};
    argv.insert(argv.end(), args.begin(), args.end());
    std::mt19937 random(24);
    const auto killRuns = [&] {
        for (int round = 0; round < 6; ++round) {
            const pid_t child = fork();
            if (child == 0) {
                std::vector<char*> pointers;
                for (const auto& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
                pointers.push_back(nullptr);
                if (freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
                execv(pointers[0], pointers.data());
                _exit(127);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 150));
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // what killed runs left is stale now
        ASSERT_EQ(Cli(args).exitCode, 0);
    };
    killRuns();
    fs::remove(dir_ / "lib/a1/s4.wav");
    Pluck(dir_ / "lib/a1/s7.wav", 40, 2.0);
    Pluck(dir_ / "lib/a2/new.wav", 41, 2.0);
    killRuns();
    ASSERT_EQ(Cli({"--mirror", dir_ / "lib", "-o", dir_ / "ref", "-f", "flac"}).exitCode, 0);
    EXPECT_TRUE(Tree(dir_ / "ref") == Tree(dir_ / "m"));
    const auto again = Cli({"--json", "--mirror", dir_ / "lib", "-o", dir_ / "m", "-f", "flac"});
    EXPECT_EQ(LastJson(again.out, "summary")["converted"], 0);
    EXPECT_EQ(LastJson(again.out, "mirror")["up_to_date"], 24);
    for (const auto& folder : {"m", "m/a0", "m/a1", "m/a2"}) {
        for (const std::string& name : Names(dir_ / folder))
            EXPECT_TRUE(name[0] != '.' || name == ".pelloran-mirror" || name == ".pelloran-mirror.lock") << name;
    }
}

}  // namespace
}  // namespace pelloran::test
