// A whole library, run after run: no input ever overwritten, one name per file on case-insensitive file
// systems, the user's own dot-files left alone, re-runs that never take their own outputs, names and texts
// that cannot rewrite the screen, commits on file systems without no-replace renames, and every entry saying
// what happened.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

class RunSafety : public Hostile {
protected:
    // A few seconds of plucked chords over pink noise, as sox makes them, in the format of the extension.
    std::string Music(const std::string& name, double seconds = 1.0, int rate = 44100) const {
        const std::string path = dir_ / name;
        fs::create_directories(fs::path(path).parent_path());
        const std::string wav = path + ".tmp.wav";
        const auto r = test::Run({"sox", "-n", "-r", std::to_string(rate), "-c", "2", "-b", "16", wav, "synth",
                                  std::to_string(seconds), "pluck", "C4", "pluck", "E4", "pinknoise", "vol", "0.4"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string ext = fs::path(path).extension();
        if (ext == ".mp3") {
            EXPECT_EQ(test::Run({"lame", "--quiet", "-b", "128", wav, path}).exitCode, 0);
        } else if (ext == ".flac") {
            EXPECT_EQ(test::Run({"flac", "-s", "-f", "-o", path, wav}).exitCode, 0);
        } else {
            fs::rename(wav, path);
        }
        fs::remove(wav);
        return path;
    }
    static std::vector<Json> Records(const std::string& out) {
        std::vector<Json> records;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            const Json j = Json::parse(line);
            if (!j.contains("summary")) records.push_back(j);
        }
        return records;
    }
    static std::string Digest(const std::string& path) { return test::Run({"md5sum", path}).out.substr(0, 32); }
};

// Both orders, one and two jobs, every policy: the sources of the run are never written over.
TEST_F(RunSafety, NoPolicyEverReplacesAnotherSourceOfTheRun) {
    const struct {
        const char* policy;
        const char* expectFlac;  // status code of the FLAC entry, whose target is the MP3 source
    } cases[] = {{"-y", "failed"}, {"-n", "skipped"}, {"", "converted"}};
    for (const auto& c : cases) {
        for (const char* jobs : {"1", "2"}) {
            for (const bool flacFirst : {true, false}) {
                SCOPED_TRACE(std::string(c.policy) + " -j" + jobs + (flacFirst ? " flac first" : " mp3 first"));
                fs::remove_all(dir_ / "album");
                const std::string flac = Music("album/song.flac");
                const std::string mp3 = Music("album/song.mp3");
                const std::string before = Digest(mp3);
                std::vector<std::string> args = {"--json", "-j", jobs, "-f", "mp3", "-o", dir_ / "album"};
                if (*c.policy) args.push_back(c.policy);
                args.push_back(flacFirst ? flac : mp3);
                args.push_back(flacFirst ? mp3 : flac);
                const auto r = Cli(args);
                EXPECT_EQ(Digest(mp3), before);
                for (const Json& j : Records(r.out)) {
                    if (j["source"] != flac) continue;
                    EXPECT_EQ(j["status_code"], c.expectFlac) << j.dump();
                    if (std::string(c.policy) == "-y") {
                        EXPECT_EQ(j["note"], "Target is a source of this run");
                    } else if (*c.policy == '\0') {
                        EXPECT_TRUE(fs::is_regular_file(j["target"].get<std::string>()));
                        EXPECT_NE(j["target"], mp3);
                    }
                }
            }
        }
    }
    // A WAV master beside its FLAC, reached through a link to its folder.
    fs::remove_all(dir_ / "lib");
    const std::string master = Music("lib/x.wav", 1.0, 96000);
    const std::string flac = Music("lib/x.flac");
    fs::create_directory_symlink(dir_ / "lib", dir_ / "link");
    const std::string before = Digest(master);
    const auto r = Cli({"-y", "-f", "wav", "-o", dir_ / "link", flac, master});
    EXPECT_EQ(Digest(master), before) << r.out;
    EXPECT_NE(r.exitCode, 0);
}

// Names of one run meet ignoring case, as FAT, exFAT, NTFS and SMB take them.
TEST_F(RunSafety, NamesThatDifferOnlyInCaseGetTheirOwnFile) {
    Music("d1/Song.flac");
    Music("d2/song.flac");
    Music("d1/Ärger.flac");
    Music("d2/ÄRGER.flac");
    auto r = Cli({"-y", "-f", "wav", "-o", dir_ / "out", dir_ / "d1", dir_ / "d2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Names(dir_ / "out"), (std::vector<std::string>{"Song.wav", "song_1.wav", "ÄRGER_1.wav", "Ärger.wav"}));

    // The same through names from tags: Ana/Song and ANA/song.
    const std::string a = Music("t/a.flac"), b = Music("t/b.flac");
    ASSERT_EQ(test::Run({"metaflac", "--set-tag=ARTIST=Ana", "--set-tag=TITLE=Song", a}).exitCode, 0);
    ASSERT_EQ(test::Run({"metaflac", "--set-tag=ARTIST=ANA", "--set-tag=TITLE=song", b}).exitCode, 0);
    r = Cli({"-y", "--json", "-f", "wav", "--name", "{artist}/{title}", "-o", dir_ / "tagged", a, b});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto records = Records(r.out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["target"], dir_ / "tagged/Ana/Song.wav");
    EXPECT_EQ(records[1]["target"], dir_ / "tagged/ANA/song_1.wav");
}

// Targets are planned for the whole list before the first write: the same names in input order, whatever
// the number of jobs, and a dry run shows exactly those.
TEST_F(RunSafety, TargetsArePlannedInInputOrderWhateverTheJobs) {
    std::vector<std::string> sources;
    for (int i = 0; i < 6; ++i) sources.push_back(Sine("d" + std::to_string(i) + "/x.wav", 8000, 1, 0.2 + 0.1 * i));
    for (const char* jobs : {"--dry-run", "1", "3"}) {
        SCOPED_TRACE(jobs);
        std::vector<std::string> args = {"--json", "-f", "flac", "-o", dir_ / "out"};
        if (std::string(jobs) == "--dry-run") args.push_back(jobs);
        else args.insert(args.end(), {"-j", jobs});
        args.insert(args.end(), sources.begin(), sources.end());
        const auto records = Records(Cli(args).out);
        ASSERT_EQ(records.size(), sources.size());
        for (size_t i = 0; i < records.size(); ++i) {
            const std::string name = i == 0 ? "x.flac" : "x_" + std::to_string(i) + ".flac";
            EXPECT_EQ(records[i]["target"], dir_ / ("out/" + name)) << i;
        }
        fs::remove_all(dir_ / "out");
    }
}

// Only files of the exact shape of our work files, with a free lock, are swept; the user's are kept.
TEST_F(RunSafety, StaleWorkFileSweepKeepsUserFiles) {
    const std::string src = Sine("in/a.wav");
    const std::string out = dir_ / "out";
    fs::create_directories(out);
    const char* keep[] = {".pelloran-notes.txt", ".pelloran-", ".pelloran-AbC12.wav", ".pelloran-AbC123.wav.bak",
                          ".pelloran-AbC12!.mp3", ".pelloran-settings"};
    const char* sweep[] = {".pelloran-AbC123.wav", ".pelloran-Zz9xY0.opus", ".pelloran-q1w2e3.M4A"};
    for (const char* name : keep) WriteBytes(out + "/" + name, {1, 2, 3});
    for (const char* name : sweep) WriteBytes(out + "/" + name, {1, 2, 3});
    for (const auto& e : fs::directory_iterator(out))
        fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
    const auto r = Cli({"-f", "wav", "-o", out, src});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> expected(std::begin(keep), std::end(keep));
    expected.push_back("a.wav");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(out), expected);
}

// An output folder inside the scanned folder is never scanned: each re-run adds one file per source.
TEST_F(RunSafety, RerunsNeverTakeTheirOwnOutputsAndTreesFollowTheOutermostFolder) {
    Sine("nest/a.wav");
    Sine("nest/sub/b.wav");
    for (int run = 1; run <= 3; ++run) {
        const auto r = Cli({"-f", "flac", "--keep-tree", "-o", dir_ / "nest/out", dir_ / "nest"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        size_t outputs = 0;
        for (const auto& e : fs::recursive_directory_iterator(dir_ / "nest/out")) outputs += e.is_regular_file();
        EXPECT_EQ(outputs, 2u * run);
    }
    EXPECT_FALSE(fs::exists(dir_ / "nest/out/out"));
    // A child named before its parent keeps the parent's tree.
    const auto r = Cli({"-f", "flac", "--keep-tree", "-o", dir_ / "tree", dir_ / "nest/sub", dir_ / "nest"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir_ / "tree/sub/b.flac"));
    EXPECT_TRUE(fs::exists(dir_ / "tree/a.flac"));
    EXPECT_FALSE(fs::exists(dir_ / "tree/b.flac"));
}

// Names and tags that would rewrite the terminal or disguise a file name.
TEST_F(RunSafety, ControlAndBidiCharactersNeverReachTheTerminalOrANameRaw) {
    const std::string c1 = Sine("bad\xc2\x9b" "31m.wav");
    const std::string raw = Sine("raw\x9b" "31m.wav");
    auto r = Cli({"-f", "wav", "-n", "-o", dir_ / "out", c1, raw});
    EXPECT_EQ(r.out.find('\x9b'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("bad\\u009b31m.wav"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("raw\\x9b31m.wav"), std::string::npos) << r.out;

    const std::string flac = Music("tagged.flac");
    ASSERT_EQ(test::Run({"metaflac", "--set-tag=TITLE=song\xe2\x80\xae" "3pm.exe", "--set-tag=ARTIST=A\xe2\x81\xa6" "B\xc2\x9b",
                         flac}).exitCode, 0);
    r = Cli({"-f", "wav", "--name", "{artist} - {title}", "-o", dir_ / "named", flac});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Names(dir_ / "named"), std::vector<std::string>{"AB - song3pm.exe.wav"});
}

// Commits where the file system refuses no-replace renames and hard links: new files, and no existing one
// replaced.
TEST_F(RunSafety, CommitsWithoutNoReplaceRenamesOrLinks) {
    const std::string a = Sine("in/a.wav"), b = Sine("in/b.wav");
    fs::create_directories(dir_ / "out");
    WriteBytes(dir_ / "out/a.flac", {'k', 'e', 'e', 'p'});
    // A sanitizer runtime must not refuse the preloaded library.
    std::string asan = std::getenv("ASAN_OPTIONS") != nullptr ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
    std::vector<std::string> argv = {CliPath(), "-q", "--settings", settingsFile_, "--json", "-f", "flac",
                                     "-o", dir_ / "out", a, b};
    std::vector<std::string> env = Env();
    env.push_back(std::string("LD_PRELOAD=") + PELLORAN_NOREPLACE_SHIM);
    const auto r = test::Run(argv, env);
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(ReadBytes(dir_ / "out/a.flac"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(Names(dir_ / "out"), (std::vector<std::string>{"a.flac", "a_1.flac", "b.flac"}));
    EXPECT_EQ(test::Run({"flac", "-t", "-s", dir_ / "out/a_1.flac", dir_ / "out/b.flac"}).exitCode, 0);
}

// What the CLI says besides the records.
TEST_F(RunSafety, SaysWhatItDoesAndWhyItRefuses) {
    const std::string src = Sine("in/a.wav");
    const struct {
        std::vector<std::string> args;
        int exit;
        const char* err;  // expected on standard error
        const char* out;  // expected on standard output
    } cases[] = {
        {{"-f", "wav", "-n", src, src}, 0, "", "Duplicate of an earlier input"},
        {{"--files-from", "/dev/zero", "-0"}, 2, "an entry longer than 4096 bytes", ""},
        {{"--files-from", "/dev/null"}, 2, "No inputs", ""},
        {{"-f", "wav", "--name", "{artist|Ana}.{stem}", "-o", dir_ / "o1", src}, 0, "", "Ana.a.wav"},
        {{"-f", "wav", "--name", "{artist}.{title}", "-o", dir_ / "o3", src}, 0, "", "_.wav"},
        {{"-f", "wav", "--name", "..{stem}", "-o", dir_ / "o2", src}, 0, "", "..a.wav"},
        {{"-f", "wav", "-s", "DestOutputFolderOpt=folder", "-s", "DestSpecifiedFolder=" + (dir_ / "Documents"), src},
         0, "Writing into ~/Documents (the saved output folder; -o DIR to choose)", "a.wav"},
    };
    for (const auto& c : cases) {
        std::string trace;
        for (const std::string& arg : c.args) trace += arg + " ";
        SCOPED_TRACE(trace);
        const auto r = Cli(c.args);
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }

    // A settings file, in either form, with values that do not parse or are out of range: one warning per key,
    // defaults apply.
    for (const char* text : {"[Options]\nMP3BitRate=abc\nTargetExistsOpt=77\nOutputFormat=x\n",
                             "[Software\\Brenthaven\\Pelloran\\Options]\nMP3BitRate=number:abc\n"
                             "TargetExistsOpt=number:77\nOutputFormat=text:x\n"}) {
        std::ofstream(settingsFile_) << text;
        const auto r = Cli({"--list-settings"});
        EXPECT_EQ(r.exitCode, 0);
        for (const char* key : {"MP3BitRate:", "TargetExistsOpt:", "OutputFormat:"}) {
            const size_t at = r.err.find(key);
            EXPECT_NE(at, std::string::npos) << key << "\n" << r.err;
            EXPECT_EQ(r.err.find(key, at + 1), std::string::npos) << key << "\n" << r.err;
        }
    }
}

}  // namespace
}  // namespace pelloran::test
