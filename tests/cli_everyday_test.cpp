// pelloran-cli for everyday use, end to end: the controls and settings by name, batches, names from tags,
// dry runs, input lists and shards, the output contract, and the README's examples.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Everyday = Hostile;  // the same scratch fixture

std::vector<Json> JsonLines(const std::string& text) {
    std::vector<Json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
    return lines;
}

std::string Ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv).err;
}

TEST_F(Everyday, ControlsSetTheChosenFormatAndWarnAboutIneffectiveSettings) {
    const std::string src = Sine("c.wav", 44100, 2, 0.5);
    auto r = Cli({"-f", "wav", "--rate", "22050", "--channels", "1", "-o", dir_ / "out", src});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto audio = DecodeWithSndfile(dir_ / "out/c.wav");
    EXPECT_EQ(audio.rate, 22050);
    EXPECT_EQ(audio.channels, 1);

    const struct {
        std::vector<std::string> args;
        int exit;
        const char* err;  // expected in stderr
    } cases[] = {
        {{"-f", "wav", "-b", "128"}, 2, "--bitrate does not apply to wav output"},
        {{"-f", "mp3", "-s", "MP3BitRate=192"}, 0, "while AutoDestMP3EncodingParam is 1"},
        {{"-f", "mp3", "-s", "OGGBitRate=192"}, 0, "'OGGBitRate' has no effect on mp3 output"},
        {{"-f", "mp3", "-s", "mp3bitrat=192"}, 2, "did you mean 'MP3BitRate'"},
        {{"-f", "wav", "-s", "TargetExistsOpt=skip", "-s", "monotype=left"}, 0, ""},
        {{"-f", "wav", "-j", "1", "-j", "3"}, 0, ""},  // the last one wins
        {{"-f", "wav", "-y", "-n"}, 2, "cannot both"},
        {{"-f", "wav", "--name", "{nope}"}, 2, "unknown field {nope}"},
        {{"-f", "wav", "--name", "../{stem}"}, 2, "leaves the output folder"},
        {{"-f", "aac", "--tag", "artist=Ana"}, 2, "aac output holds no tags"},
        {{"-f", "wav", "--shard", "3/2"}, 2, "--shard"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", dir_ / "cases", "-y", src});
        if (std::find(c.args.begin(), c.args.end(), "-n") != c.args.end()) args.erase(args.end() - 2);
        r = Cli(args);
        EXPECT_EQ(r.exitCode, c.exit) << c.args[2] << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args[2] << ": " << r.err;
    }

    r = Cli({"--list-settings", "--json"});
    ASSERT_EQ(r.exitCode, 0);
    const auto settings = JsonLines(r.out);
    EXPECT_GT(settings.size(), 60u);
    for (const auto& key : {"name", "type", "range", "default", "value", "meaning"})
        EXPECT_TRUE(settings[0].contains(key)) << key;
}

TEST_F(Everyday, BatchesSkipWhatIsDoneAndKeepTheTree) {
    Sine("Music/Ana/Songs/01.wav", 8000, 1, 0.2);
    Sine("Music/Ana/Songs/02.wav", 8000, 1, 0.2);
    WriteBytes(dir_ / "Music/Ana/Songs/cover.jpg", {0xFF, 0xD8, 0xFF});
    WriteBytes(dir_ / "Music/Ana/Songs/album.cue", {'R', 'E', 'M'});
    WriteBytes(dir_ / "Music/Ana/Songs/rip.log", {'o', 'k'});
    Sine("Music/.hidden/x.wav", 8000, 1, 0.2);
    // Opus files are media too (made by opusenc, which Opus output is checked against).
    const std::string opusSource = Sine("opus-source.wav", 48000, 2, 0.2);
    ASSERT_EQ(test::Run({"opusenc", "--quiet", opusSource, dir_ / "Music/Ana/Songs/03.opus"}).exitCode, 0);
    const std::string out = dir_ / "out";
    auto r = Cli({"-f", "wav", "-o", out, "--keep-tree", dir_ / "Music"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(Names(out + "/Ana/Songs"), (std::vector<std::string>{"01.wav", "02.wav", "03.wav"}));
    EXPECT_FALSE(fs::exists(out + "/.hidden"));

    // Again with -n: everything is skipped, which counts as done.
    r = Cli({"-f", "wav", "-o", out, "--keep-tree", "-n", "--json", dir_ / "Music"});
    EXPECT_EQ(r.exitCode, 0);
    const auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0]["status_code"], "skipped");
    EXPECT_EQ(lines[3]["summary"], true);
    EXPECT_EQ(lines[3]["skipped"], 3);
    EXPECT_EQ(Names(out + "/Ana/Songs").size(), 3u);

    // --all-files tries everything: the picture and the cue sheet fail to load.
    r = Cli({"-f", "wav", "-o", dir_ / "all", "--all-files", dir_ / "Music/Ana"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("cover.jpg\tFailed to load"), std::string::npos) << r.out;
}

TEST_F(Everyday, NamesFromTagsAndDryRun) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed";
    const std::string src = dir_ / "in/a.flac";
    fs::create_directories(dir_ / "in");
    Ffmpeg({"-f", "lavfi", "-i", "sine=d=0.3", "-metadata", "artist=Ana/B", "-metadata", "album=Songs?",
            "-metadata", "track=3", "-metadata", "title=Intro", src});
    const std::string out = dir_ / "out";
    const std::vector<std::string> named = {"-f", "wav", "-o", out, "--name", "{artist}/{album}/{track:02} - {title}"};
    std::vector<std::string> args = named;
    args.insert(args.end(), {"--dry-run", "--json", src});
    auto r = Cli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["status_code"], "planned");
    EXPECT_EQ(lines[0]["target"], out + "/Ana_B/Songs_/03 - Intro.wav");
    EXPECT_EQ(lines[1]["dry_run"], true);
    EXPECT_FALSE(fs::exists(out)) << "a dry run writes nothing";

    args = named;
    args.push_back(src);
    r = Cli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(out + "/Ana_B/Songs_/03 - Intro.wav"));

    // Only the output's own extension is dropped from a name, whatever its case.
    const struct {
        const char* format;
        const char* pattern;
        const char* target;
    } names[] = {
        {"mp3", "x.mp3", "x.mp3"},     {"mp3", "x.MP3", "x.mp3"},       {"ogg", "x.mp3", "x.mp3.ogg"},
        {"mp3", "{title}.mp3", "Intro.mp3"}, {"mp3", "d.mp3/{stem}", "d.mp3/a.mp3"}, {"mp3", ".mp3", ".mp3.mp3"},
    };
    for (const auto& n : names) {
        r = Cli({"--dry-run", "--json", "-f", n.format, "-o", out, "--name", n.pattern, src});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(JsonLines(r.out).at(0)["target"], out + "/" + n.target) << n.pattern;
    }
}

TEST_F(Everyday, InputListsAndShards) {
    std::string list;
    std::vector<std::string> sources;
    for (int i = 0; i < 12; ++i) {
        sources.push_back(Sine("s/" + std::to_string(i) + ".wav", 8000, 1, 0.05));
        list += sources.back() + '\0';
    }
    WriteBytes(dir_ / "list", std::vector<uint8_t>(list.begin(), list.end()));
    std::set<std::string> seen;
    size_t total = 0;
    for (const char* shard : {"1/3", "2/3", "3/3"}) {
        const auto r = Cli({"-f", "wav", "-o", dir_ / "out", "--dry-run", "--files-from", dir_ / "list", "-0",
                            "--shard", shard});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line); ++total) seen.insert(line.substr(0, line.find('\t')));
    }
    EXPECT_EQ(total, sources.size()) << "every input in exactly one shard";
    EXPECT_EQ(seen, std::set<std::string>(sources.begin(), sources.end()));
}

TEST_F(Everyday, InterruptExitsWith130) {
    const std::string src = Sine("long.wav", 44100, 2, 240.0);
    // Interrupted once its work file exists, while it converts. Job control (set -m) keeps Ctrl+C for the
    // background job, as in a terminal; the shell reports the death by SIGINT as 130.
    std::vector<std::string> argv = {"bash", "-c",
                                     "set -m; \"$0\" -q --settings \"$1\" -f wav -o \"$2\" --rate 48000 \"$3\" & pid=$!; "
                                     "until ls -A \"$2\" 2>/dev/null | grep -q pelloran; do sleep 0.01; done; "
                                     "kill -INT $pid; wait $pid",
                                     CliPath(), settingsFile_, dir_ / "out", src};
    EXPECT_EQ(test::Run(argv, Env()).exitCode, 130);
}

// Every example of the README runs in a shell, in a folder with a small music library.
TEST_F(Everyday, ReadmeExamplesRun) {
    std::ifstream readme(std::string(PELLORAN_SOURCE_DIR) + "/README.md");
    std::string text((std::istreambuf_iterator<char>(readme)), std::istreambuf_iterator<char>());
    const size_t start = text.find("Examples (each one is run by the tests):");
    ASSERT_NE(start, std::string::npos);
    std::vector<std::string> examples;
    std::istringstream in(text.substr(start));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line) && (line.empty() || line.rfind("    ", 0) == 0)) {
        if (!line.empty()) examples.push_back(line.substr(4));
    }
    ASSERT_GE(examples.size(), 5u);
    Sine("song.wav");
    Sine("other.wav", 8000, 1, 0.2);
    Sine("Music/album/01.wav", 8000, 1, 0.2);
    Sine("Music/live/01.wav", 8000, 1, 0.2);
    const std::string bin = fs::path(CliPath()).parent_path().string();
    for (const auto& example : examples) {
        const auto r = test::Run({"sh", "-c", "cd \"$0\" && " + example, dir_.path().string()},
                           {"HOME=" + dir_.path().string(), "PATH=" + bin + ":" + getenv("PATH"),
                            "XDG_CONFIG_HOME=" + (dir_ / "config"), "XDG_DOCUMENTS_DIR=" + (dir_ / "Documents")});
        EXPECT_EQ(r.exitCode, 0) << example << "\n" << r.err;
    }
}

}  // namespace
}  // namespace pelloran::test
